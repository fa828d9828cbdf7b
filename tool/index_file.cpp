#include "tool/index_file.h"

#include "files/channels.h"
#include "files/lines.h"
#include "host/utf8.h"
#include "tool/index_row.h"
#include "tool/message_writer.h"

namespace brevlith {
namespace {

// Names are in the ANSI code page where the host's is not UTF-8; the index
// is UTF-8 throughout.
std::string name_in_utf8(std::string_view name) {
  if (host::ansi_code_page() == 65001 || valid_utf8(name)) return std::string(name);
  const host::Wide wide = host::multi_byte_to_wide_char(name);
  return wide.empty() ? std::string(name) : host::wide_to_utf8(wide);
}

}  // namespace

void IndexFile::add(std::string_view file, std::string_view message, uint64_t bytes,
                    uint32_t permissions) {
  const std::string name = std::string(output_prefix) + "index.csv";
  std::string row = index_row(name_in_utf8(file), mailbox_ ? name_in_utf8(*mailbox_) : "", place_,
                              index_head(message), bytes);
  const int32_t channel = next_free_channel();
  Steps steps;
  const bool opened = steps.run([&] {
    open_channel(name, channel, Mode::append, 128,
                 {.wait = LockWait::bounded,
                  .permissions = permissions,
                  .literal = true,
                  .folder = folder_});
  });
  const uint64_t start = opened ? channel_position(channel) : 0;
  if (opened && start == 0) row.insert(0, index_header);
  // One write: a reader, or a run stopped here, sees whole rows only.
  const bool written = opened && steps.run([&] { write_text(channel, row); });
  Steps take_back;
  if (opened && !written) take_back.run([&] { cut_channel(channel, start); });
  steps.run([&] { close_channel(channel); });
  if (steps.failure().code) report_output_failure(outcome_, name, steps.failure());
  if (take_back.failure().code)
    report(outcome_, "the incomplete row at the end of " + shown_name(name) +
                         " could not be taken back: " + reason(take_back.failure()) +
                         "; remove it by hand");
}

}  // namespace brevlith
