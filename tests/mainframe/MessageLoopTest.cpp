#include "LauncherMessageLoop.h"
#include "QtTestApp.h"

#include "Common/Exception.h"
#include "Core/IIdleHandler.h"
#include "Core/IMessageFilter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace Tav;
using namespace TavTest;

namespace {

const QEvent::Type TestEventType = static_cast<QEvent::Type>(QEvent::User + 71);

struct Journal {
    std::vector<std::string> entries;
    std::string Text() const
    {
        std::string text;
        for (const auto& entry : entries)
            text += entry + " ";
        return text;
    }
};

class Filter : public IMessageFilter {
public:
    Filter(Journal& journal, std::string name, bool consumes) : journal(journal), name(std::move(name)), consumes(consumes) {}
    bool PreTranslateMessage(QObject*, QEvent* event) override
    {
        if (event->type() != TestEventType)
            return false;
        journal.entries.push_back(name);
        return consumes;
    }

private:
    Journal& journal;
    std::string name;
    bool consumes;
};

class Idle : public IIdleHandler {
public:
    Idle(Journal& journal, std::string name) : journal(journal), name(std::move(name)) {}
    bool OnIdle() override
    {
        journal.entries.push_back(name);
        if (then)
            then();
        return true;
    }
    std::function<void()> then;

private:
    Journal& journal;
    std::string name;
};

// Records the test events that reach it.
class Target : public QObject {
public:
    explicit Target(Journal& journal) : journal(journal) {}
    bool event(QEvent* event) override
    {
        if (event->type() != TestEventType)
            return QObject::event(event);
        journal.entries.push_back("delivered");
        return true;
    }

private:
    Journal& journal;
};

} // namespace

TEST(LauncherMessageLoop, FiltersFromLastToFirstUntilOneConsumes)
{
    App();
    CLauncherMessageLoop loop;
    Journal journal;
    Filter first(journal, "first", true), second(journal, "second", false), third(journal, "third", false);
    EXPECT_TRUE(loop.AddMessageFilter(&first));
    EXPECT_TRUE(loop.AddMessageFilter(&second));
    EXPECT_TRUE(loop.AddMessageFilter(&third));
    EXPECT_FALSE(loop.AddMessageFilter(&third));
    EXPECT_FALSE(loop.AddMessageFilter(nullptr));
    QEvent event(TestEventType);
    EXPECT_TRUE(loop.PreTranslateMessage(nullptr, &event));
    EXPECT_EQ(journal.Text(), "third second first ");

    journal.entries.clear();
    EXPECT_TRUE(loop.RemoveMessageFilter(&first));
    EXPECT_FALSE(loop.RemoveMessageFilter(&first));
    EXPECT_FALSE(loop.PreTranslateMessage(nullptr, &event));
    EXPECT_EQ(journal.Text(), "third second ");
}

TEST(LauncherMessageLoop, IdleHandlersInRegistrationOrder)
{
    App();
    CLauncherMessageLoop loop;
    Journal journal;
    Idle a(journal, "a"), b(journal, "b"), c(journal, "c");
    loop.AddIdleHandler(&a);
    loop.AddIdleHandler(&b);
    loop.AddIdleHandler(&c);
    EXPECT_FALSE(loop.OnIdle(0)); // once per burst, whatever the handlers want
    EXPECT_EQ(journal.Text(), "a b c ");
    loop.RemoveIdleHandler(&b);
    // A handler that runs a nested loop does not re-enter the others.
    a.then = [&] { loop.OnIdle(0); };
    journal.entries.clear();
    loop.OnIdle(0);
    EXPECT_EQ(journal.Text(), "a c ");
}

TEST(LauncherMessageLoop, RunOffersEventsToTheFiltersAndIdlesAfterEachBurst)
{
    App();
    CLauncherMessageLoop loop;
    Journal journal;
    Target target(journal);
    Filter watcher(journal, "filter", false);
    loop.AddMessageFilter(&watcher);
    Idle idle(journal, "idle");
    int idlePasses = 0;
    bool sawBurst = false;
    idle.then = [&] {
        ++idlePasses;
        if (journal.Text().find("delivered") != std::string::npos)
            sawBurst = true;
        // Ends after the first pass that follows the burst.
        if (sawBurst)
            QCoreApplication::exit(7);
        else if (idlePasses > 50)
            QCoreApplication::exit(-1);
    };
    loop.AddIdleHandler(&idle);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::postEvent(&target, new QEvent(TestEventType));
    EXPECT_EQ(loop.Run(), 7);

    // Leading idle passes before the dispatcher looked at the queue aside,
    // the three events come as one burst, each seen by the filter first.
    std::string text = journal.Text();
    while (text.rfind("idle ", 0) == 0)
        text.erase(0, 5);
    EXPECT_EQ(text, "filter delivered filter delivered filter delivered idle ");

    // Outside Run the loop no longer sees the application's events.
    journal.entries.clear();
    QEvent event(TestEventType);
    QCoreApplication::sendEvent(&target, &event);
    EXPECT_EQ(journal.Text(), "delivered ");
}

TEST(LauncherMessageLoop, ConsumedEventsAreNotDelivered)
{
    App();
    CLauncherMessageLoop loop;
    Journal journal;
    Target target(journal);
    Filter eater(journal, "eaten", true);
    loop.AddMessageFilter(&eater);
    QCoreApplication::postEvent(&target, new QEvent(TestEventType));
    QTimer::singleShot(0, [] { QCoreApplication::exit(3); });
    EXPECT_EQ(loop.Run(), 3);
    EXPECT_EQ(journal.Text(), "eaten ");
}

TEST(LauncherMessageLoop, OneLoopPerThread)
{
    CLauncherMessageLoop first, second;
    EXPECT_EQ(GetMessageLoop(), nullptr);
    EXPECT_TRUE(AddMessageLoop(&first));
    EXPECT_FALSE(AddMessageLoop(&second));
    EXPECT_EQ(GetMessageLoop(), &first);
    IMessageLoop* elsewhere = &second;
    std::thread other([&] { elsewhere = GetMessageLoop(); });
    other.join();
    EXPECT_EQ(elsewhere, nullptr);
    EXPECT_TRUE(RemoveMessageLoop());
    EXPECT_FALSE(RemoveMessageLoop());
    EXPECT_EQ(GetMessageLoop(), nullptr);
}

TEST(LauncherMessageLoop, ErrorsOfFiltersAndIdleHandlersAreShownNotThrown)
{
    App();
    RecordedBoxes boxes;
    CLauncherMessageLoop loop;
    Journal journal;
    struct Throwing : IMessageFilter, IIdleHandler {
        bool PreTranslateMessage(QObject*, QEvent*) override { throw CCommonException(0xCEF00001, __LINE__, "Test.cpp", "filter"); }
        bool OnIdle() override { throw CCommonException(0xCEF00001, __LINE__, "Test.cpp", "idle"); }
    } throwing;
    Filter before(journal, "before", false);
    Idle after(journal, "after");
    loop.AddMessageFilter(&before);
    loop.AddMessageFilter(&throwing);
    loop.AddIdleHandler(&throwing);
    loop.AddIdleHandler(&after);
    QEvent event(TestEventType);
    EXPECT_TRUE(loop.PreTranslateMessage(nullptr, &event)); // a failed filter consumes the event
    loop.OnIdle(0);
    EXPECT_EQ(journal.Text(), "after ");
    ASSERT_EQ(boxes.Taken().size(), 2u);
    EXPECT_NE(boxes.Taken()[0].text.find("filter"), std::string::npos) << boxes.AllTexts();
    EXPECT_NE(boxes.Taken()[1].text.find("idle"), std::string::npos) << boxes.AllTexts();
}
