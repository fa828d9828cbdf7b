#include "tool/output_tree.h"

#include "files/directories.h"
#include "tool/message_writer.h"

namespace brevlith {

OutputTree::~OutputTree() { leave_to(0); }

void OutputTree::leave_to(size_t depth) {
  while (held_.size() > depth) {
    release_folder(held_.back().second);
    held_.pop_back();
  }
}

host::Handle OutputTree::enter(const std::string& below, host::Handle top, Outcome& outcome,
                               bool& made) {
  made = false;
  // Keep the folders the new path shares with the one held.
  size_t depth = 0;
  while (depth < held_.size() && below.starts_with(held_[depth].first)) ++depth;
  leave_to(depth);
  size_t at = held_.empty() ? 0 : held_.back().first.size();
  for (size_t end; (end = below.find('\\', at)) != std::string::npos; at = end + 1) {
    const std::string path = below.substr(0, end + 1);
    const std::string name = std::string(output_prefix) + below.substr(0, end);
    const host::Handle parent = held_.empty() ? top : held_.back().second;
    // Each with its own scope, one after the other: a scope takes what is
    // raised while it is the innermost.
    Steps make;
    made = make.run([&] { make_dir(name, parent); });
    Steps hold;
    host::Handle held = host::invalid_handle;
    hold.run([&] { held = hold_folder(name, parent); });
    if (held == host::invalid_handle) {
      // Nothing there to hold: why it could not be made says more.
      const uint32_t missing = hold.failure().host_error;
      const bool gone =
          missing == host::win32::file_not_found || missing == host::win32::path_not_found;
      report(outcome, "cannot use the output folder " + shown_name(name) + ": " +
                          reason(gone && !made ? make.failure() : hold.failure()) +
                          "; remove or rename what stands at that name, and run again");
      return host::invalid_handle;
    }
    held_.emplace_back(path, held);
  }
  return held_.empty() ? top : held_.back().second;
}

}  // namespace brevlith
