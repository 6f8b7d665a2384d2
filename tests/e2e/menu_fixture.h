// A mailbox with numbered messages for driving the folder menu.
#pragma once

#include <string>

#include "tests/support/harness.h"

namespace quillo::test {

// A message dated `day` January 2024 from "from<n>@x" about "subject<n>",
// with `bodyLines` numbered body lines ("body<n> line <k>").
inline std::string MenuMessage(int n, int day, int bodyLines = 1) {
  std::string text = "From: from" + std::to_string(n) + "@x\nSubject: subject" + std::to_string(n) +
                     "\nDate: Mon, " + std::to_string(day) + " Jan 2024 09:05:00 +0900\n----------\n";
  for (int k = 1; k <= bodyLines; ++k) text += "body" + std::to_string(n) + " line " + std::to_string(k) + "\n";
  return text;
}

inline std::string MessageName(int n) {
  std::string digits = std::to_string(n);
  return std::string(4 - digits.size(), '0') + digits + ".TXT";
}

// A sandbox with settings (`lines` as given), the three folders, and
// `messages` files 0000.TXT... in inbox, the older the higher the number.
inline void MakeMenuBox(const Sandbox& box, int messages, int lines = 25, const std::string& extraIni = "") {
  box.WriteIni("lines=" + std::to_string(lines) + "\n" + extraIni);
  box.MakeMailbox();
  for (int n = 0; n < messages; ++n) box.WriteFile("mbox/inbox/" + MessageName(n), MenuMessage(n, 20 - n));
}

// The page row of display position `position` (1-based) holding file number
// `file`, marked or not: the start of the row up to the file number.
inline std::string Row(int position, bool marked, int file) {
  std::string pos = std::to_string(position);
  std::string digits = std::to_string(file);
  return std::string(4 - pos.size(), ' ') + pos + (marked ? ">" : " ") + std::string(4 - digits.size(), '0') +
         digits + " ";
}

// The menu's help text between its rules, as the user reads it (UTF-8 here).
inline const std::string kMenuHelpText =
    "num:メール表示\n"
    "+  :次のページ\t\t-  :前のページ\n"
    "g  :メール受信\t\ts  :メール送信\n"
    "w  :メール作成\t\ti  :メール挿入作成\n"
    "m  :メール移動\t\td  :メール削除\n"
    "f  :メール返信\t\te  :メール編集\n"
    "r  :リフレッシュ\to  :日付ソート\n"
    "n  :リナンバー\n"
    "t  :原文表示\t\tx  :添付ファイル保存\n"
    "c  :フォルダ変更\tk  :フォルダ作成\n"
    "v  :フォルダ削除\n"
    "!  :外部プログラム\tz  :子プロセス\n"
    "?  :ヘルプ\t\t/  :昇順/降順切替\n"
    "q,0:exit\n";

inline const Env kOffline = {{"QUILLO_OFFLINE", "1"}};

inline Env Offline(Env env) {
  env["QUILLO_OFFLINE"] = "1";
  return env;
}

// How often `part` occurs in `text`.
inline int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size())) ++n;
  return n;
}

}  // namespace quillo::test
