#pragma once

// The standard answers of the command protocol, written by the one JSON policy
// (json_text.h), and how a client recognises one. Pure functions, any thread.

#include <string>
#include <string_view>

namespace vn {

// {"ok":true} or {"ok":false}; a bare {"ok":false} is how a torrent control
// command reports that the torrent engine refused it.
std::string OkAnswer(bool ok);

// {"id":id,"ok":true}: a download was enqueued.
std::string IdAnswer(const std::string& id);

// {"error":text,"ok":false}.
std::string ErrorAnswer(const std::string& text);

// {"ok":false,"error":text}, members in this order: the fixed answers of the
// request server ("No handler registered") and of the native host ("Service
// unavailable") have always been written so, and extensions compare them
// verbatim. text is plain ASCII without quotes or backslashes.
std::string OkFirstErrorAnswer(std::string_view text);

// True when the user interface's reply to a capture accepts it: the reply holds
// the text "ok":true exactly so, anywhere. Its answer is not required to be a
// JSON document, and a blank after the colon is no acceptance, so this is a
// match on the bytes, not a parse.
bool IsCaptureAccepted(std::string_view reply);

}  // namespace vn
