// The login and disarm dialogs: the two rules and which field they empty, the status line,
// the server's verdict, and the byte-exact comparison with the stored credentials.
#include "app/credential_dialogs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/resources.h"
#include "net/server_link.h"
#include "platform/dialog.h"
#include "platform/headless/headless.h"
#include "platform/sockets_testing.h"
#include "tests/support/script_server.h"

namespace {

using headless::PressButton;
using headless::TypeText;

const std::string kNameRule = "Name has to be more than 3 character and no more than 30";
const std::string kPasswordRule = "Password has to be more than 3 character and no more than 13";

class CredentialDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstallResources(ProgramResources());
    SetServerHostName();
    ASSERT_TRUE(SetTestHostAddress(serverHostName, kAddress));
  }

  static INT_PTR Run(DLGPROC procedure) {
    return DialogBoxParamA(nullptr, MAKEINTRESOURCEA(kCredentialsDialog), nullptr, procedure, 0);
  }

  // The (caption, text) of every box so far.
  static std::vector<std::pair<std::string, std::string>> Boxes() {
    std::vector<std::pair<std::string, std::string>> boxes;
    for (const auto& box : headless::Boxes()) boxes.emplace_back(box.caption, box.text);
    return boxes;
  }

  static constexpr char kAddress[] = "127.84.3.1";
};

TEST_F(CredentialDialogs, TheRulesAreTestedInOrderAndEmptyOnlyTheirOwnField) {
  std::string name30(30, 'n'), name31(31, 'n'), pass13(13, 'p'), pass14(14, 'p');
  headless::ScriptDialog(
      kCredentialsDialog,
      {PressButton(IDOK), headless::CaptureDialog(),  // both empty: only the name message
       TypeText(kUserNameField, "abc"), TypeText(kPasswordField, "secret"), PressButton(IDOK),
       headless::CaptureDialog(), TypeText(kUserNameField, name31), PressButton(IDOK),
       TypeText(kUserNameField, name30), TypeText(kPasswordField, "pwd"), PressButton(IDOK),
       headless::CaptureDialog(), TypeText(kUserNameField, "abcd"),
       TypeText(kPasswordField, pass14), PressButton(IDOK), PressButton(IDCANCEL)});
  EXPECT_EQ(Run(DisarmDialog), 0);
  std::vector<std::pair<std::string, std::string>> expected{{"Corvantis", kNameRule},
                                                            {"Corvantis", kNameRule},
                                                            {"Corvantis", kNameRule},
                                                            {"Corvantis", kPasswordRule},
                                                            {"Corvantis", kPasswordRule}};
  EXPECT_EQ(Boxes(), expected);
  auto record = headless::DialogRecords().at(0);
  EXPECT_EQ(record.initial.Text(kStatusText), "Waiting for user and password information");
  EXPECT_EQ(record.initial.Text(kPromptText),
            "Please enter your user name and password to turn off alarm");
  EXPECT_EQ(record.initial.focus, kUserNameField);
  ASSERT_EQ(record.captured.size(), 3u);
  // A broken name rule leaves the status at "Checking Password" and the password in place.
  EXPECT_EQ(record.captured[1].Text(kStatusText), "Checking Password");
  EXPECT_EQ(record.captured[1].Text(kUserNameField), "");
  EXPECT_EQ(record.captured[1].Text(kPasswordField), "secret");
  EXPECT_EQ(record.captured[1].Control(kPasswordField)->shown, "******");
  // A broken password rule empties the password only.
  EXPECT_EQ(record.captured[2].Text(kUserNameField), name30);
  EXPECT_EQ(record.captured[2].Text(kPasswordField), "");
  (void)pass13;
}

TEST_F(CredentialDialogs, DisarmComparesByteForByteWithTheStoredCredentials) {
  std::strcpy(storedUserName, "Watcher\n");
  std::strcpy(storedPassword, "s3cret-pw\n");
  headless::ScriptDialog(
      kCredentialsDialog,
      {TypeText(kUserNameField, "watcher"), TypeText(kPasswordField, "s3cret-pw"),
       PressButton(IDOK), headless::CaptureDialog(), TypeText(kUserNameField, "Watcher"),
       PressButton(IDOK),  // the password field was emptied: the password rule speaks
       TypeText(kPasswordField, "s3cret-pw "), PressButton(IDOK),
       TypeText(kUserNameField, "Watcher"), TypeText(kPasswordField, "s3cret-pw"),
       headless::PressEnter()});
  EXPECT_EQ(Run(DisarmDialog), 1);
  std::vector<std::pair<std::string, std::string>> expected{
      {"Please login again: ", "Wrong user name or password"},
      {"Corvantis", kPasswordRule},
      {"Please login again: ", "Wrong user name or password"},
      {"Corvantis", "Alarm is now OFF"}};
  EXPECT_EQ(Boxes(), expected);
  auto boxes = headless::Boxes();
  auto record = headless::DialogRecords().at(0);
  EXPECT_EQ(boxes[0].owner, record.dialog);  // the verdicts belong to the dialog
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(boxes[3].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(record.captured.at(0).Text(kStatusText), "Waiting for user and password");
  EXPECT_EQ(record.captured.at(0).Text(kUserNameField), "");
  EXPECT_EQ(record.captured.at(0).Text(kPasswordField), "");
}

TEST_F(CredentialDialogs, LoginShowsTheServersMessageFromItsFirstBlank) {
  testsupport::ScriptServer refusing(kAddress);
  ASSERT_TRUE(refusing.Listening());
  refusing.Expect("alice\n").Reply("300 No such user, sorry").Close();
  refusing.Start();
  headless::ScriptDialog(kCredentialsDialog,
                         {TypeText(kUserNameField, "alice"), TypeText(kPasswordField, "pw 1234"),
                          PressButton(IDOK), headless::CaptureDialog(), PressButton(IDCANCEL)});
  EXPECT_EQ(Run(LoginDialog), 0);
  EXPECT_EQ(refusing.Finish(), "alice\n");
  auto boxes = headless::Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, "Please try again: ");
  EXPECT_EQ(boxes[0].text, " No such user, sorry");
  auto record = headless::DialogRecords().at(0);
  EXPECT_EQ(record.initial.Text(kPromptText),
            "Please make sure that you have an active Internet connection before turning the "
            "alarm on. ");
  EXPECT_EQ(record.captured.at(0).Text(kUserNameField), "");
  EXPECT_EQ(record.captured.at(0).Text(kPasswordField), "");
  EXPECT_EQ(record.captured.at(0).Text(kStatusText), "Waiting for user and password");
}

TEST_F(CredentialDialogs, OnlyTheFirstThreeCharactersDecideAndABlanklessReplyGivesNoMessage) {
  int round = 0;
  for (const char* verdict : {"200", "2000 ok"}) {
    headless::ClearLogs();
    // A fresh address for each round: the last one may still hold its closed connection.
    std::string address = "127.84.4." + std::to_string(++round);
    ASSERT_TRUE(SetTestHostAddress(serverHostName, address.c_str()));
    testsupport::ScriptServer server(address);
    ASSERT_TRUE(server.Listening());
    server.Expect("alice\n").Reply("200 hello").Expect("pw 1234\n").Reply(verdict);
    server.Expect("QUIT\n").Reply("221 bye");
    server.Start();
    headless::ScriptDialog(kCredentialsDialog,
                           {TypeText(kUserNameField, "alice"), TypeText(kPasswordField, "pw 1234"),
                            PressButton(IDOK)});
    EXPECT_EQ(Run(LoginDialog), 1) << verdict;
    server.Finish();
    auto boxes = headless::Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Welcome: ");
    EXPECT_EQ(boxes[0].text, std::string(verdict) == "200" ? "" : " ok");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  }
  EXPECT_STREQ(storedUserName, "alice\n");
  EXPECT_STREQ(storedPassword, "pw 1234\n");
}

TEST_F(CredentialDialogs, AReplyOfTwoCharactersIsARefusal) {
  // An address of its own: the test cases run side by side, and another one listens on kAddress.
  constexpr char kOwnAddress[] = "127.84.3.2";
  ASSERT_TRUE(SetTestHostAddress(serverHostName, kOwnAddress));
  testsupport::ScriptServer server(kOwnAddress);
  ASSERT_TRUE(server.Listening());
  server.Expect("alice\n").Reply("20").Close();
  server.Start();
  headless::ScriptDialog(kCredentialsDialog,
                         {TypeText(kUserNameField, "alice"), TypeText(kPasswordField, "pw 1234"),
                          PressButton(IDOK), headless::PressEscape()});
  EXPECT_EQ(Run(LoginDialog), 0);  // Escape cancels
  server.Finish();
  auto boxes = headless::Boxes();
  ASSERT_GE(boxes.size(), 1u);
  EXPECT_EQ(boxes.back().caption, "Please try again: ");
}

}  // namespace
