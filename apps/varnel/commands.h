#pragma once

// varnel's subcommands, one operation each, mapping one to one onto the
// service's commands. Each returns the exit code on success paths and throws
// the exceptions of cli_errors.h otherwise; only main catches them.

#include <string>

#include "apps/varnel/console.h"
#include "apps/varnel/requests.h"
#include "apps/varnel/service_client.h"

namespace vn::cli {

// Prints the new id; with wait, follows the download to its end.
int RunAdd(const ServiceClient& client, Console& console, const AddOptions& options, bool wait);
int RunTorrent(const ServiceClient& client, Console& console, const TorrentOptions& options,
               bool wait);

// kTable: the table for a person; kJson: the service's answer unchanged plus a
// line end; kIds: only the ids, one a line (scripts and shell completion).
enum class ListForm { kTable, kJson, kIds };

int RunList(const ServiceClient& client, Console& console, ListForm form);

// pause, resume, cancel and retry; verb is the subcommand's name.
int RunControl(const ServiceClient& client, Console& console, const std::string& verb,
               const std::string& id);
// A new URL for a download that is not running, then a resume.
int RunRefresh(const ServiceClient& client, Console& console, const std::string& id,
               const std::string& url);
int RunDelete(const ServiceClient& client, Console& console, const std::string& id,
              bool deleteFile);
int RunLimit(const ServiceClient& client, Console& console, const std::string& id,
             const std::string& rate);
int RunGlobalLimit(const ServiceClient& client, Console& console, const std::string& rate);

// Repaints the table twice a second until Ctrl-C.
int RunWatch(const ServiceClient& client, Console& console);

}  // namespace vn::cli
