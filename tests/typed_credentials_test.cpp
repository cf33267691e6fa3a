// Typed credentials are UTF-8, as the alarm server's `user add` reads them from a terminal: an
// account made with a name and password outside ASCII logs in with the same text typed into
// the login dialog, and both sides count bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/app_windows.h"
#include "app/credential_dialogs.h"
#include "app/resources.h"
#include "net/server_link.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/resources.h"
#include "platform/sockets_testing.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/server_process.h"

namespace {

constexpr char kAddress[] = "127.85.9.1";

TEST(TypedCredentials, AnAccountOutsideAsciiLogsInWithTheTextTypedForIt) {
#ifndef CORVANTIS_SERVER_BINARY
  GTEST_SKIP() << "built without the alarm server";
#else
  testsupport::ScratchDirectory scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string dataDir = (scratch.path() / "server-data").string();
  // "zoë" is three characters and four bytes; "pässwörd" eight characters and ten bytes.
  ASSERT_EQ(testsupport::RunProgram({CORVANTIS_SERVER_BINARY, "--data", dataDir, "user", "add",
                                     "zoë", "--hash-cost", "min"},
                                    "pässwörd\n"),
            0);
  // Three bytes are too short a name for the server as for the dialog.
  EXPECT_NE(testsupport::RunProgram({CORVANTIS_SERVER_BINARY, "--data", dataDir, "user", "add",
                                     "ab", "--hash-cost", "min"},
                                    "password\n"),
            0);
  testsupport::ServerProcess server(CORVANTIS_SERVER_BINARY, dataDir,
                                    std::string(kAddress) + ":1100");
  ASSERT_TRUE(server.Ready()) << server.FirstLine();
  SetServerHostName();
  ASSERT_TRUE(SetTestHostAddress(serverHostName, kAddress));
  platform::InstallResources(ProgramResources());

  // The password typed as "pässwört" (ten bytes too) is refused by the server, the right one
  // accepted.
  headless::ScriptDialog(
      kCredentialsDialog,
      {headless::TypeText(kUserNameField, "zoë"), headless::TypeText(kPasswordField, "pässwört"),
       headless::PressEnter(), headless::TypeText(kUserNameField, "zoë"),
       headless::TypeText(kPasswordField, "pässwörd"), headless::PressEnter()});
  EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kCredentialsDialog), nullptr, LoginDialog, 0),
            1);
  std::vector<std::string> boxes;
  for (const auto& box : headless::Boxes()) boxes.push_back(box.caption + "|" + box.text);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].rfind("Please try again: | ", 0), 0u) << boxes[0];
  EXPECT_EQ(boxes[1], "Welcome: | Welcome, zoë.");
  EXPECT_STREQ(storedUserName, "zoë\n");
  EXPECT_STREQ(storedPassword, "pässwörd\n");
  EXPECT_EQ(server.Stop(), 0);
#endif
}

}  // namespace
