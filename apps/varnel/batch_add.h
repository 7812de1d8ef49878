#pragma once

// `varnel add -i FILE`: many URLs, one enqueue_download each, with the same
// options. Runs on the main thread.

#include <istream>
#include <string>
#include <vector>

#include "apps/varnel/console.h"
#include "apps/varnel/requests.h"
#include "apps/varnel/service_client.h"

namespace vn::cli {

// The URLs of a list: one a line, surrounding blanks dropped; blank lines and
// lines starting with "#" skipped.
std::vector<std::string> ReadUrlList(std::istream& input);

// Enqueues every URL of the list at source ("-": standard input) with options
// (its url is ignored) and prints each id on a line of its own. With wait,
// follows them all on one progress line until each has ended; returns
// kExitSuccess only when every one completed. Throws UsageError for an
// unreadable or empty list; a refused URL stops the batch (those already
// enqueued go on).
int RunAddBatch(const ServiceClient& client, Console& console, const AddOptions& options,
                const std::string& source, bool wait);

}  // namespace vn::cli
