// The stubs of lazy_stubs.py and the loader behind them, on libtclinkfake.so.1: each case runs
// in a process of its own (CTest), as a library once loaded stays loaded. Where the library is
// looked for is the test's LD_LIBRARY_PATH.
#include "fake_callers.h"
#include "session/rdp/lazy_libraries.h"

#include <gtest/gtest.h>

#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern "C" const tclink::lazy::StubTable tclink_fake_stubs;

namespace {

tclink::lazy::Libraries& fake()
{
    static tclink::lazy::Libraries& libraries = *new tclink::lazy::Libraries(tclink_fake_stubs);
    return libraries;
}

constexpr long Sum = 87654321;
constexpr double Mix = 282.0;
const std::string Formatted = "42 text 2.25 1.5 1234567890123 z 0.125 -7 1.0 2.0 3.0 4.0 5.0 6.0";

std::string format()
{
    char out[128] = {};
    const int written = call_format(out, sizeof out);
    return written == static_cast<int>(std::strlen(out)) ? std::string(out) : std::string();
}

} // namespace

extern "C" void* tclink_fake_resolve(std::uint32_t index) noexcept
{
    const std::string& failure = fake().load();
    if (!failure.empty()) {
        std::fprintf(stderr, "cannot load: %s\n", failure.c_str());
        std::_Exit(3);
    }
    return fake().function(index);
}

// The first call of a stub goes through the resolver, which loads the library with registers
// of its own: every argument must still arrive, in registers and on the stack.
TEST(Present, AFirstCallKeepsIntegerAndStackArguments)
{
    EXPECT_EQ(call_sum(), Sum);
    EXPECT_EQ(fake().load(), "");
    EXPECT_EQ(call_sum(), Sum);
}

TEST(Present, AFirstCallKeepsFloatingPointArguments)
{
    EXPECT_EQ(call_mix(), Mix);
    EXPECT_EQ(call_mix(), Mix);
}

// A variadic callee reads the count of vector registers from al.
TEST(Present, AFirstVariadicCallKeepsItsArguments)
{
    EXPECT_EQ(format(), Formatted);
    EXPECT_EQ(format(), Formatted);
}

// The library's own call of a function that the program defines reaches the program's, as it
// would if the program linked the library.
TEST(Present, AFunctionTheProgramDefinesTakesThePlaceOfTheLibrarys)
{
    EXPECT_EQ(call_hook(), 2);
}

TEST(Present, ThreadsCallingFirstAtOnceAllGetTheirResults)
{
    constexpr int threads = 8;
    std::barrier start(threads);
    std::vector<int> right(threads);
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        callers.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int round = 0; round < 3; ++round) {
                switch ((t + round) % 3) {
                case 0:
                    right[t] += call_sum() == Sum;
                    break;
                case 1:
                    right[t] += call_mix() == Mix;
                    break;
                default:
                    right[t] += format() == Formatted;
                }
            }
        });
    }
    for (auto& caller : callers)
        caller.join();
    EXPECT_EQ(right, std::vector<int>(threads, 3));
}

// The loader names what is missing; no stub changes, so a call still ends the program through
// the resolver rather than jumping anywhere.
TEST(Missing, TheLibraryIsNamedAndACallEndsTheProgram)
{
    const std::string failure = fake().load();
    EXPECT_NE(failure.find("libtclinkfake.so.1"), std::string::npos) << failure;
    EXPECT_EQ(fake().load(), failure);
    EXPECT_EXIT(call_sum(), testing::ExitedWithCode(3), "cannot load: libtclinkfake.so.1");
}

TEST(MissingFunction, TheFunctionIsNamedAndNoStubLeadsIntoTheLibrary)
{
    const std::string failure = fake().load();
    EXPECT_NE(failure.find("fake_mix"), std::string::npos) << failure;
    EXPECT_EXIT(call_sum(), testing::ExitedWithCode(3), "fake_mix");
}
