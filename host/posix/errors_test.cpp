#include <gtest/gtest.h>

#include <cerrno>
#include <map>

#include "host/posix/posix.h"
#include "tool/diagnostics.h"

namespace host::posix {
namespace {

// The mapping the rest of the tool relies on (sharing violations, disk full,
// missing files); EAGAIN is EWOULDBLOCK on Linux.
const std::map<int, uint32_t> expected = {
    {ENOENT, 2},  {ENOTDIR, 3},        {EMFILE, 4},   {ENFILE, 4},   {EACCES, 5},
    {EPERM, 5},   {EISDIR, 5},         {EBADF, 6},    {ENOMEM, 8},   {EROFS, 19},
    {EIO, 31},    {EWOULDBLOCK, 32},   {EINVAL, 87},  {ENOSPC, 112}, {EDQUOT, 112},
    {EFBIG, 112}, {ENAMETOOLONG, 206}, {EEXIST, 183}, {ELOOP, 1921}, {EPIPE, 109},
    {ENXIO, 20},
};

TEST(ErrnoTable, EveryRowAsMappedAndNothingMissing) {
  std::map<int, int> seen;
  for (const ErrnoRow& row : errno_table()) {
    ++seen[row.errno_value];
    const auto it = expected.find(row.errno_value);
    ASSERT_NE(it, expected.end()) << "unexpected row for errno " << row.errno_value;
    EXPECT_EQ(row.win32_error, it->second) << "errno " << row.errno_value;
  }
  for (const auto& [e, win32] : expected) {
    EXPECT_EQ(seen[e], 1) << "errno " << e << " needs exactly one row";
    EXPECT_EQ(win32_from_errno(e), win32) << "errno " << e;
  }
}

// What a user reads for each errno the table knows: a true reason, never
// a general one for a closed pipe or a FIFO without a reader.
TEST(ErrnoTable, EachRowReadsAsWhatHappened) {
  const std::map<int, std::string> said = {
      {ENOENT, "no such file"},
      {EACCES, "permission denied"},
      {EIO, "input/output error"},
      {EWOULDBLOCK, "in use by another program"},
      {ENOSPC, "disk full or file too large"},
      {EPIPE, "broken pipe: the reading end is closed"},
      {ENXIO, "no such device or address"},
      {ELOOP, "too many levels of symbolic links"},
  };
  for (const auto& [e, text] : said) {
    const uint32_t win32 = win32_from_errno(e);
    EXPECT_EQ(brevlith::reason({brevlith::error_code_for_host_error(win32), win32}), text)
        << "errno " << e;
  }
}

// Anything else keeps the host's own number and reads as the host's words,
// never as an invented input/output error.
TEST(ErrnoTable, AnythingElseIsTheHostsOwnReason) {
  const std::map<int, std::string> said = {{ESTALE, "stale file handle"},
                                           {ENOLCK, "no locks available"}};
  for (const auto& [e, text] : said) {
    const uint32_t own = win32_from_errno(e);
    EXPECT_EQ(brevlith::error_code_for_host_error(own), brevlith::error_code::media_error);
    EXPECT_EQ(brevlith::reason({brevlith::error_code_for_host_error(own), own}), text);
  }
  for (int e : {0, 100000, -1}) EXPECT_EQ(win32_from_errno(e), win32::gen_failure) << e;
}

TEST(ErrnoTable, FailErrnoSetsTheLastError) {
  set_last_error(0);
  errno = ENOSPC;
  EXPECT_FALSE(fail_errno());
  EXPECT_EQ(get_last_error(), win32::disk_full);
  EXPECT_FALSE(fail(win32::sharing_violation));
  EXPECT_EQ(get_last_error(), win32::sharing_violation);
  set_last_error(0);
}

}  // namespace
}  // namespace host::posix
