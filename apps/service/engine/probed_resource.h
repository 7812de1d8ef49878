#pragma once

// Whether an answer to a segment request is still the resource the probe saw.
// A server may change the file between the probe and a segment, or answer a
// range other than the one asked for; such bytes must never reach a partial
// file. Pure functions; any thread.

#include <cstdint>
#include <string>

#include "apps/service/task/download_task.h"
#include "platform/http.h"

namespace vn {

// The validator a segment request sends as If-Range: the probed ETag unless it
// is weak (a weak ETag cannot vouch for byte ranges), else the probed
// Last-Modified; "" when there is neither.
std::string IfRangeValidator(const DownloadTask& probed);

// True when head, a 200 or 206 answer to a request for the bytes from
// requestedFirst on, belongs to probed (its totalBytes, etag and lastModified
// are the probe's). A 206 must name a Content-Range that starts at
// requestedFirst and totals the probed size; a 200 that gives a length must
// give the probed size. A validator the answer carries must equal the probed
// one; an absent one on either side is not a change (servers drop them now
// and then), If-Range covers that case.
bool IsProbedResource(const platform::HttpResponseHead& head, const DownloadTask& probed,
                      std::int64_t requestedFirst);

}  // namespace vn
