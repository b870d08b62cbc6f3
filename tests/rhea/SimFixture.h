#pragma once

#include "Rhea.h"
#include "Sim1394/Sim1394.h"

#include <gtest/gtest.h>

#include <string>

namespace RheaTest {

// Installs the simulated driver and replaces its cameras by `description`.
inline void LoadCameras(const std::string& description)
{
    Tav::Sim1394::Install();
    std::string error;
    ASSERT_TRUE(Tav::Sim1394::Simulator::Instance().LoadDescription(description, error)) << error;
}

inline int OnlyCamera()
{
    auto ids = Tav::Sim1394::Simulator::Instance().Cameras();
    return ids.empty() ? -1 : ids.front();
}

// Expects `statement` to throw a RheaException with `code`; returns its context.
#define EXPECT_RHEA_ERROR(statement, expectedCode)                                                                  \
    [&]() -> std::string {                                                                                            \
        try {                                                                                                         \
            statement;                                                                                                \
        } catch (const Rhea::RheaException& e) {                                                                      \
            EXPECT_EQ(e.GetCode(), uint32_t(expectedCode)) << e.GetContext();                                         \
            return e.GetContext();                                                                                    \
        }                                                                                                             \
        ADD_FAILURE() << "no RheaException from " #statement;                                                        \
        return std::string();                                                                                         \
    }()

} // namespace RheaTest
