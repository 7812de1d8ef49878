#pragma once

// `varnel add -i FILE`: many URLs, one enqueue_download each, with the same
// options. Every line is checked before the first is enqueued; the bad ones
// are named by number and skipped, the good ones enqueued. Runs on the main
// thread.

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

#include "apps/varnel/console.h"
#include "apps/varnel/requests.h"
#include "apps/varnel/service_client.h"

namespace vn::cli {

// Longer lines are refused whole; a request holds far less anyway.
inline constexpr std::size_t kMaxListLineBytes = 8192;

struct ListLine {
  std::size_t number = 0;  // from 1
  std::string text;        // surrounding blanks dropped
};

// The lines of a list that hold something: one URL a line, a UTF-8 byte order
// mark at the start dropped, blank lines and lines starting with "#" skipped.
// A line longer than kMaxListLineBytes is kept unchecked and cut a little
// past the limit, for the checks to refuse.
std::vector<ListLine> ReadUrlList(std::istream& input);

// Enqueues every URL of the list at source ("-": standard input) with options
// (its url is ignored) and prints each id on a line of its own. Each bad line
// (a zero or control byte, too long, not UTF-8, not an http or https URL) is
// reported as "SOURCE:LINE: reason" on standard error, and the command then
// returns kExitDownloadFailed. With wait, follows the enqueued ones on one
// progress line until each has ended; returns kExitSuccess only when every
// line was good and every download completed. Throws UsageError for an
// unreadable or empty list or bad options; a refused URL stops the batch
// (those already enqueued go on).
int RunAddBatch(const ServiceClient& client, Console& console, const AddOptions& options,
                const std::string& source, bool wait);

}  // namespace vn::cli
