#include "tool/index_row.h"

#include <gtest/gtest.h>

namespace brevlith {
namespace {

TEST(IndexRow, HeadFieldsAreUnfoldedDecodedAndInUtf8) {
  const struct {
    std::string message;
    IndexHead want;
  } rows[] = {
      {"From ???@??? 1\r\nDATE: Mon, 1 Jan 2001\r\nFrom: =?iso-8859-1?Q?Ren=E9_M?= <r@x>\r\n"
       "To: a@b,\r\n\tc@d\r\nSubject: =?utf-8?B?SMOpbGxv?=\r\n =?UTF-8?q?_w?= end\r\n"
       "Subject: second\r\n\r\nTo: body@x\r\nAttachment Converted: \"C:\\a.pdf\"\r\n"
       "Attachment converted: HD:b.pdf (PDF /CARO) (0001)\r\nEmbedded Content: c.jpg: 1\r\n"
       " Attachment Converted: indented\r\n",
       {"Mon, 1 Jan 2001", "Ren\xc3\xa9 M <r@x>", "a@b,\tc@d", "H\xc3\xa9llo w end", 3}},
      // Unknown charsets and broken words stay as written; bytes of the
      // message's own encoding (here Windows-1252) become UTF-8.
      {"Subject: =?koi8-r?B?wQ==?= =?utf-8?B?*?= caf\xe9 \x80\r\n",
       {"", "", "", "=?koi8-r?B?wQ==?= =?utf-8?B?*?= caf\xc3\xa9 \xe2\x82\xac", 0}},
      {"Content-Type: text/plain; charset=macintosh\r\nSubject: \x8e =?x?Q?a?=\r\n",
       {"", "", "", "\xc3\xa9 =?x?Q?a?=", 0}},
  };
  for (const auto& row : rows) {
    const IndexHead got = index_head(row.message);
    EXPECT_EQ(got.date, row.want.date);
    EXPECT_EQ(got.from, row.want.from);
    EXPECT_EQ(got.to, row.want.to);
    EXPECT_EQ(got.subject, row.want.subject);
    EXPECT_EQ(got.attachments, row.want.attachments);
  }
}

TEST(IndexRow, FieldsAreQuotedOnlyWhereCsvNeedsIt) {
  IndexHead head{"d", "a, b", "say \"hi\"", "two\r\nlines", 2};
  EXPECT_EQ(
      index_row("In-0001.txt", "Work.fol/In.mbx", 7, head, 1234),
      "In-0001.txt,Work.fol/In.mbx,7,d,\"a, b\",\"say \"\"hi\"\"\",\"two\r\nlines\",2,1234\r\n");
}

}  // namespace
}  // namespace brevlith
