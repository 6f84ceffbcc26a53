// The desktop's file search index, asked for files whose name contains a term. A query
// stays live: when the index changes, it reports the whole updated result list again.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varek {

class FileIndex {
 public:
  struct Request {
    std::string term;         // matched against file names, ignoring case and accents
    bool openedOnly = false;  // only files opened at or after openedSince
    double openedSince = 0;   // seconds since 2001-01-01 UTC
    int limit = 300;          // the index need not report more than this many
  };
  struct Hit {
    std::string path;
    bool isDirectory = false;
  };
  using Results = std::function<void(const std::vector<Hit>&)>;

  // A running query; destroying or stopping it ends all deliveries at once.
  class Query {
   public:
    virtual ~Query() = default;
    virtual void stop() = 0;
  };

  virtual ~FileIndex() = default;

  // Starts a query under the user's home folder. Each delivery, on the main queue, holds
  // the full current result list: newest last use first with openedOnly, else newest
  // content change first. Deliveries are coalesced over a short interval.
  virtual std::unique_ptr<Query> start(const Request& request, Results deliver) = 0;
};

}  // namespace varek
