// Common set-up of the composing and sending tests: a private mailbox and tmp
// directory, the settings pointing there, short network time-outs, and the
// process-wide records put back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <regex>
#include <string>

#include "net/transport.h"
#include "platform/run_directory.h"
#include "settings/job_options.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace quillo::composetest {

class ComposeFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    savedSettings_ = GetSettings();
    savedJob_ = GetJobOptions();
    Settings& s = GetSettings();
    s = Settings{};
    s.mailbox = box.Path("mbox");
    s.tmp = box.Path("tmp");
    s.POPserver = "127.0.0.1";
    s.POPLogin = "popuser";
    s.mailto = "me@example.com";
    s.fullname = "Me Myself";
    s.SMTPserver = "127.0.0.1";
    s.smtpServerGiven = 1;
    s.timeout = 5;
    GetJobOptions() = JobOptions{};
    box.MakeMailbox();
    std::string why;
    ASSERT_TRUE(OpenRunDirectory(s.tmp, why)) << why;
    LogSwitch(true);
  }
  void TearDown() override {
    GetNetSession().sock.Close();
    LogSwitch(true);
    CloseRunDirectory();
    GetSettings() = savedSettings_;
    GetJobOptions() = savedJob_;
  }

  struct Outcome {
    int result = -99;
    std::string out;
    std::string err;
  };
  // Runs `body` with `keys` as the typed answers, capturing both streams.
  Outcome Call(const std::function<int()>& body, const std::string& keys = "") {
    Outcome o;
    ::testing::internal::CaptureStderr();
    o.out = test::WithPipedKeys(keys, [&] { o.result = body(); });
    o.err = ::testing::internal::GetCapturedStderr();
    return o;
  }

  test::Sandbox box;

 private:
  Settings savedSettings_;
  JobOptions savedJob_;
};

}  // namespace quillo::composetest

namespace quillo::composetest {

// The header lines every message gets on the wire for its plain text, with
// the moment and the Message-ID of the sending as "[stamp]".
inline const std::string kPlainMime =
    "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n"
    "[stamp]\r\n";

// `wire` with its Date and Message-ID lines (one each, in that order) as
// "[stamp]"; both must be there and well-formed.
inline std::string WithoutStamp(const std::string& wire) {
  static const std::regex kStamp(
      "\r\nDate: \\w{3}, \\d{1,2} \\w{3} \\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4} \\([^)]*\\)\r\n"
      "Message-ID: <\\d+\\.\\d{6}\\.\\d+\\.[0-9a-f]{16}@[a-z0-9.-]+>\r\n");
  return std::regex_replace(wire, kStamp, "\r\n[stamp]\r\n", std::regex_constants::format_first_only);
}

// An editor for the tests: it records its current directory, its argument
// count and each argument (one per line, in brackets) in `log`, then appends
// "edited\n" to the file it was given.
inline void WriteRecordingEditor(const test::Sandbox& box, const std::string& script, const std::string& log) {
  box.WriteFile(script,
                "#!/bin/sh\n"
                "{ pwd; echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } >> '" + box.Path(log) + "'\n"
                "printf 'edited\\n' >> \"$1\"\n");
  chmod(box.Path(script).c_str(), 0755);
}

}  // namespace quillo::composetest
