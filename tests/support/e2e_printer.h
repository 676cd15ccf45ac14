// A virtual printer on a chosen port for the end-to-end tool tests, with the
// environment a tool process needs to reach it.
#pragma once

#include "child_process.h"
#include "temp_dir.h"
#include "tool_output.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace e2e
{

using test_support::Env;
using Bytes = std::vector<std::uint8_t>;

inline const char* kind_name(qel_vp::PortKind kind)
{
    switch (kind)
    {
    case qel_vp::PortKind::Ttys:
        return "Ttys";
    case qel_vp::PortKind::Lp:
        return "Lp";
    default:
        return "Usb";
    }
}

// A frame of the transcript: kind and bytes.
struct Sent
{
    qel_vp::FrameKind kind;
    Bytes bytes;
    bool operator==(const Sent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Sent& s)
{
    return os << qel_vp::frame_kind_name(s.kind) << "(" << s.bytes.size() << " bytes)";
}

// Fixture part: starts the printer in its own directory under TMPDIR.
class PrinterOnPort
{
  public:
    bool start(qel_vp::PortKind kind, std::string* error)
    {
        tmp = std::make_unique<test_support::TempDir>();
        if (!tmp->ok())
        {
            *error = "no scratch directory";
            return false;
        }
        dir = tmp->path();
        qel_vp::PrinterOptions o;
        o.kind = kind;
        o.link_path = dir + (kind == qel_vp::PortKind::Ttys ? "/dev/Ttys0" : "/dev/usb/lp0");
        vp = std::make_unique<qel_vp::VirtualPrinter>(std::move(o));
        return vp->start(error);
    }

    void stop()
    {
        if (vp)
            vp->stop();
        vp.reset();
        tmp.reset();
    }

    std::string port() const { return vp->port_name(); }

    Env env() const { return test_support::emulator_client_env(vp->umockdev_dir()); }

    // A run of the tool `program` (named `tool` in its banner) against this
    // printer, the banner masked; a run that hangs fails the test.
    test_support::RunResult run_tool(const std::string& program, const std::string& tool,
                                     const std::vector<std::string>& args,
                                     const std::string& input = {}) const
    {
        test_support::RunResult r = test_support::run_program(program, args, input, env());
        r.out = test_support::mask_banner(r.out, tool);
        EXPECT_FALSE(r.timed_out);
        return r;
    }

    // The lines of a successful opening and closing of the port, which the
    // tool calls `port_word` in them.
    std::string opening(const std::string& port_word) const
    {
        return "# Opening connection to printer " + port_word + " \"" + port() +
               "\" ... done\n# Sending synchronization characters ... done\n";
    }
    std::string closing(const std::string& port_word) const
    {
        return "# Closing connection to printer " + port_word + " \"" + port() + "\" ... done\n";
    }

    // Frames the host sent, synchronisation runs left out.
    std::vector<Sent> sent() const
    {
        std::vector<Sent> out;
        for (const qel_vp::Frame& f : vp->transcript())
            if (f.kind != qel_vp::FrameKind::Sync)
                out.push_back({f.kind, f.bytes});
        return out;
    }

    std::unique_ptr<test_support::TempDir> tmp;
    std::unique_ptr<qel_vp::VirtualPrinter> vp;
    std::string dir;
};

// Fixture: a printer on the port kind of the test's parameter, its own for
// each test.
class PrinterTest : public ::testing::TestWithParam<qel_vp::PortKind>
{
  protected:
    void SetUp() override { start_printer(); }
    void TearDown() override { printer.stop(); }

    void start_printer()
    {
        std::string error;
        ASSERT_TRUE(printer.start(GetParam(), &error)) << error;
    }

    PrinterOnPort printer;
};

inline Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace e2e

namespace qel_vp
{
// Test names and messages show the port kind by name.
inline void PrintTo(PortKind kind, std::ostream* os)
{
    *os << e2e::kind_name(kind);
}
} // namespace qel_vp
