// boundary_store.h - where each printer's command parser was left by the last
// job, kept in a small file per printer, for the CUPS backend and the printer
// application alike.
//
// The backend's files live in "$CUPS_CACHEDIR/qel-backend" (the scheduler sets
// CUPS_CACHEDIR for its backends; /var/cache/cups/qel-backend without it),
// a directory of mode 0700 that the backend creates; the printer application
// names a directory of its own. A printer named by its serial number is kept
// under "serial-<number>", any other port under "port-<path>" (both
// percent-encoded). The file holds one line of boundary_to_text and is
// rewritten after every write to the printer, so a writer that is killed
// leaves it as exact as it was after its last write.
#pragma once

#include "command_boundary.h"

#include <string>

namespace qel
{

class BoundaryStore
{
  public:
    // key: serial_key() or port_key(); an empty dir: the default place.
    BoundaryStore(const std::string& key, std::string dir = {});
    ~BoundaryStore();
    BoundaryStore(const BoundaryStore&) = delete;
    BoundaryStore& operator=(const BoundaryStore&) = delete;

    // The state the last job left (on a boundary outside a page when there is
    // no file or it cannot be read). *note gets a reason when it could not be kept.
    qel::CommandBoundary load(std::string* note = nullptr);
    // Keeps the state; false when the file cannot be written.
    bool save(const qel::CommandBoundary& state);
    const std::string& path() const { return path_; }

    static std::string serial_key(const std::string& serial_number);
    static std::string port_key(const std::string& path);
    static std::string default_dir();

  private:
    std::string dir_;
    std::string path_;
    int fd_ = -1;
};

} // namespace qel
