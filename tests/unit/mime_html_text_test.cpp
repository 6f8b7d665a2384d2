#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "mime/html_text.h"

namespace quillo {
namespace {

struct HtmlCase {
  const char* name;
  std::string html;
  std::string text;
};

std::ostream& operator<<(std::ostream& os, const HtmlCase& c) { return os << c.name; }

using namespace std::string_literals;

const HtmlCase kHtmlCases[] = {
    // White space.
    {"RunsCollapse", "a  \t\r\n  b", "a b\n"},
    {"LeadingAndTrailingSpaceGo", "  <p>  a  </p>  ", "a\n"},
    {"LineEndBetweenJapaneseIsNoSpace", "今日は\n良い天気", "今日は良い天気\n"},
    {"BlankBetweenJapaneseStays", "今日は 良い天気", "今日は 良い天気\n"},
    {"LineEndBetweenLatinIsSpace", "hello\nworld", "hello world\n"},
    {"NbspIsKeptSpace", "a&nbsp;&nbsp;b", "a  b\n"},
    {"LiteralNbspIsKeptSpace", "a\xc2\xa0\xc2\xa0" "b", "a  b\n"},
    {"PreKeepsSpacesAndLines", "<pre>\n a  b\n  c</pre>d", " a  b\n  c\n\nd\n"},
    {"PreTabsToStops", "<pre>a\tb\n\tc\fd</pre>", "a       b\n        cd\n"},
    {"EmptyInput", "", ""},
    {"OnlyMarkup", "<html><body><div></div></body></html>", ""},
    // Blocks and breaks.
    {"BrBreaksLine", "a<br>b<br/>c", "a\nb\nc\n"},
    {"ManyBrsGiveTwoEmptyLinesAtMost", "a<br><br><br><br><br><br>b", "a\n\n\nb\n"},
    {"ParagraphsSetApart", "<p>one</p><p>two</p>", "one\n\ntwo\n"},
    {"DivsOnTheirOwnLines", "<div>one</div><div>two</div>", "one\ntwo\n"},
    {"GmailEmptyLine", "<div dir=\"ltr\">Hi<div><br></div><div>Bye</div></div>", "Hi\n\nBye\n"},
    {"BrEndingBlockAddsNoLine", "<div>a<br></div><div>b</div>", "a\nb\n"},
    {"HeadingSetApart", "x<h1>Title</h1>y", "x\n\nTitle\n\ny\n"},
    {"UppercaseTags", "A<BR>B<P>C</P>", "A\nB\n\nC\n"},
    // Lists and tables.
    {"BulletList", "<ul><li>one</li><li> two </li></ul>", "* one\n* two\n"},
    {"NumberedList", "<ol><li>one<li>two</ol>", "1. one\n2. two\n"},
    {"NumberedListStart", "<ol start=\"7\"><li>a<li>b</ol>", "7. a\n8. b\n"},
    {"NestedListIndented", "<ul><li>a<ul><li>b</li></ul></li><li>c</li></ul>", "* a\n  * b\n* c\n"},
    {"TableRowOnALine", "<table><tr><td>名前</td><td>山田</td></tr><tr><th>年</th><th>30</th></tr></table>",
     "名前 山田\n年 30\n"},
    {"TableCellsWithSpaces", "<table>\n<tr>\n <td> a </td>\n <td> b </td>\n</tr>\n</table>", "a b\n"},
    // Links and images.
    {"LinkTextAndUrl", "<a href=\"https://example.com/x\">Shop</a>", "Shop <https://example.com/x>\n"},
    {"LinkSameAsText", "<a href=\"https://example.com/\">https://example.com</a>", "https://example.com\n"},
    {"MailtoSameAsText", "<a href=\"mailto:a@example.com\">a@example.com</a>", "a@example.com\n"},
    {"LinkHrefEntitiesDecoded", "<a href='/s?a=1&amp;b=2'>go</a>", "go </s?a=1&b=2>\n"},
    {"LinkQueryNotAReference", "<a href=\"/s?x=1&copy=2\">go</a>", "go </s?x=1&copy=2>\n"},
    {"FragmentLinkJustText", "<a href=\"#top\">top</a>", "top\n"},
    {"ScriptLinkJustText", "<a href=\"JavaScript:go()\">run</a>", "run\n"},
    {"ImageLinkShowsUrl", "<a href=\"http://e.jp/\"><img src=x.png></a>", "<http://e.jp/>\n"},
    {"ImageAltShown", "x<img alt=\"ロゴ\" src=\"a.png\">y", "xロゴy\n"},
    {"UnquotedHref", "<a href=http://e.jp/a>here</a>", "here <http://e.jp/a>\n"},
    {"HrefWithLineEndsCleaned", "<a href=\"http://e.jp/\n a\">here</a>", "here <http://e.jp/a>\n"},
    // References.
    {"NamedEntities", "&lt;&gt;&amp;&quot;&apos;&copy;&yen;&hellip;&mdash;", "<>&\"'©¥…—\n"},
    {"GreekAndLatin", "&Alpha;&Sigma;&Omega;&sigmaf;&omega;&eacute;&Uuml;&yuml;", "ΑΣΩςωéÜÿ\n"},
    {"DecimalAndHex", "&#26085;&#x672C;&#X8A9E;", "日本語\n"},
    {"ReferenceWithoutSemicolon", "&#65&#x42 &amp x &lt y", "AB & x < y\n"},
    {"UnknownEntityLeftAsText", "&bogus; & &;", "&bogus; & &;\n"},
    {"ReferenceOutOfRange", "&#0;&#x110000;&#xD800;&#99999999999999999999;", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\n"},
    {"Windows1252Range", "&#128;&#150;", "€–\n"},
    {"ControlReferencesDropped", "a&#27;[31mb&#7;", "a[31mb\n"},
    {"InvisibleReferencesDropped", "a&zwnj;&#8203;&#xFEFF;&shy;&#847;b", "ab\n"},
    {"InvisibleLiteralsDropped", "a\xe2\x80\x8c\xe2\x80\x8b\xef\xbb\xbf\xc2\xad\xcd\x8f" "b", "ab\n"},
    {"LiteralControlBytesDropped", "a\x1b[2Jb\x07\x7f" "c", "a[2Jbc\n"},
    {"MalformedUtf8PassedThrough", "a\xc2" "A\xe2\x80", "a\xc2" "A\xe2\x80\n"},
    // What a browser does not show.
    {"ScriptAndStyleDropped", "a<script>var x = '<p>no</p>';</script>b<style>p{color:red}</style>c", "abc\n"},
    {"ScriptEndTagCaseAndSpace", "a<SCRIPT>x</script >b", "ab\n"},
    {"HeadDropped", "<html><head><title>T</title><meta charset=utf-8></head><body>body</body></html>", "body\n"},
    {"HeadWithoutEndClosedByBody", "<head><title>T</title><body>text", "text\n"},
    {"HeadWithoutEndClosedByText", "<head><meta x>text", "text\n"},
    {"CommentsDropped", "a<!-- <p>no</p> -->b<!--[if mso]>x<![endif]-->c", "abc\n"},
    {"DoctypeDropped", "<!DOCTYPE html><?xml x?>a", "a\n"},
    {"DisplayNoneDropped", "<div style=\"display: none; max-height:0\">preview<div>in</div></div>shown",
     "shown\n"},
    {"HiddenAttributeDropped", "<span hidden>x</span>y", "y\n"},
    {"TemplateDropped", "<template><p>x</p></template>y", "y\n"},
    // Broken markup.
    {"LoneLessThan", "a < b <3 c", "a < b <3 c\n"},
    {"UnclosedCommentRunsToEnd", "a<!-- b", "a\n"},
    {"UnclosedTagRunsToEnd", "a<div class=\"x", "a\n"},
    {"QuotedGreaterThanInAttribute", "<img alt=\"a>b\">c", "a>bc\n"},
    {"StrayEndTags", "</p></div>a</li></ul>", "a\n"},
    {"EmptyEndTagIgnored", "a</>b", "ab\n"},
};

class MimeHtmlTextTest : public testing::TestWithParam<HtmlCase> {};

TEST_P(MimeHtmlTextTest, Reduces) { EXPECT_EQ(HtmlToText(GetParam().html), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Cases, MimeHtmlTextTest, testing::ValuesIn(kHtmlCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Hostile shapes that a careless reducer turns into quadratic work or
// output: each must finish quickly with a result of bounded size.
struct HostileCase {
  const char* name;
  std::string unit;
};

const HostileCase kHostileCases[] = {
    {"NestedLists", "<ul><li>x"},
    {"OpenScripts", "<script>"},
    {"PreTabs", "<pre>\t\t\t\t"},
    {"OpenLinks", "<a href=\"http://e.jp/aaaaaaaaaaaaaaaaaaaaaaaa\">"},
    {"CommentStarts", "<!--"},
    {"AttributeStarts", "<a b=c "},
    {"HiddenNesting", "<div hidden><div>"},
    {"References", "&#x1F600;&zwnj;&nbsp"},
    {"Breaks", "<br>"},
};

class MimeHtmlTextHostileTest : public testing::TestWithParam<HostileCase> {};

TEST_P(MimeHtmlTextHostileTest, BoundedWork) {
  std::string html;
  // Large enough that quadratic work would take minutes, small enough for a
  // sanitizer build on a loaded machine.
  constexpr size_t kSize = 256 << 10;
  while (html.size() < kSize) html += GetParam().unit;
  const auto start = std::chrono::steady_clock::now();
  const std::string text = HtmlToText(html);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(20));
  EXPECT_LE(text.size(), 4 * html.size());
}

INSTANTIATE_TEST_SUITE_P(Cases, MimeHtmlTextHostileTest, testing::ValuesIn(kHostileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A newsletter as mailing services write them: layout tables, a hidden
// preview, tracking images, buttons as links.
TEST(MimeHtmlTextNewsletterTest, ReadsAsText) {
  const std::string html =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>td{padding:0}</style></head>"
      "<body><div style=\"display:none\">今週のおすすめ&zwnj;&nbsp;&zwnj;&nbsp;</div>"
      "<table width=\"100%\"><tr><td align=\"center\">\n"
      "  <table><tr><td><h1>秋の<b>セール</b></h1></td></tr>\n"
      "  <tr><td><p>いつもご利用ありがとうございます。<br>\n全品20%オフ！</p>\n"
      "  <a href=\"https://shop.example.jp/sale?utm=1&amp;id=2\" style=\"color:#fff\">今すぐ見る</a></td></tr>\n"
      "  <tr><td><img src=\"https://t.example.jp/open.gif\" width=\"1\" height=\"1\" alt=\"\"></td></tr>"
      "</table></td></tr></table></body></html>";
  EXPECT_EQ(HtmlToText(html),
            "秋のセール\n\nいつもご利用ありがとうございます。\n全品20%オフ！\n\n"
            "今すぐ見る <https://shop.example.jp/sale?utm=1&id=2>\n");
}

}  // namespace
}  // namespace quillo
