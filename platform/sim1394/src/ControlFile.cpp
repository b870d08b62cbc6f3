#include "Sim1394/Sim1394.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace Tav::Sim1394 {

namespace {

// The camera at a 1-based position in the list of present ones, or -1.
int CameraAt(const std::string& position)
{
    const std::vector<int> cameras = Simulator::Instance().Cameras();
    size_t end = 0;
    int index = 0;
    try {
        index = std::stoi(position, &end);
    } catch (const std::exception&) {
        return -1;
    }
    if (end != position.size() || index < 1 || size_t(index) > cameras.size())
        return -1;
    return cameras[size_t(index) - 1];
}

void Follow(std::string file)
{
    std::streamoff offset = 0;
    int number = 0;
    std::string pending;
    // A plain file has no change notification that works everywhere: polled.
    for (;;) {
        std::ifstream in(file, std::ios::binary);
        if (in && in.seekg(offset)) {
            std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            offset += std::streamoff(chunk.size());
            pending += chunk;
        }
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            const std::string error = RunControlCommand(line);
            ++number;
            if (error.empty())
                std::fprintf(stderr, "sim1394: ok %d %s\n", number, line.c_str());
            else
                std::fprintf(stderr, "sim1394: failed %d %s: %s\n", number, line.c_str(), error.c_str());
            std::fflush(stderr);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

std::string RunControlCommand(const std::string& line)
{
    std::istringstream words(line);
    std::string verb, position, rest;
    words >> verb >> position >> rest;
    if (verb != "remove" && verb != "surprise-remove" && verb != "fail-buffers")
        return "unknown command \"" + verb + "\"";
    if (!rest.empty())
        return "one camera position expected";
    const int id = CameraAt(position);
    if (id < 0)
        return "no camera at position \"" + position + "\"";
    if (verb == "fail-buffers") {
        Simulator::Instance().FailBuffers(id, IncompleteFrameStatus);
        return std::string();
    }
    if (!Simulator::Instance().RemoveCamera(id, verb == "remove"))
        return "the removal was refused";
    return std::string();
}

void FollowControlFile(const std::string& file)
{
    std::thread(Follow, file).detach();
}

} // namespace Tav::Sim1394
