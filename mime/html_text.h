// An HTML part reduced to the plain text a reader would see in a browser,
// for the message view and the follow-up quote.
#pragma once

#include <string>
#include <string_view>

namespace quillo {

// `htmlUtf8` (an HTML document or fragment in UTF-8) as plain UTF-8 text:
// block elements and <br> end lines, paragraphs and headings are set apart
// by an empty line, list items start with "* " (numbered in an <ol>), the
// cells of a table row share a line, a link reads "text <url>", entities
// (named, decimal, hex) are decoded, white space collapses as a browser
// collapses it (kept inside <pre>), and <script>, <style>, <head>, comments
// and elements hidden with display:none are dropped. Lines end with "\n".
// The work and the result are linear in the input, whatever it holds.
std::string HtmlToText(std::string_view htmlUtf8);

}  // namespace quillo
