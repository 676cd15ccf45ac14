// printer_boundary.h - where each printer's command parser stands, kept across jobs, status
// exchanges and restarts of the application.
//
// The printer reads one command after the other and never resynchronises. A job that ends
// inside a command (the printer unplugged in the middle of a receipt, the application killed)
// leaves the printer waiting for the rest of that command, and whatever is sent next would be
// taken as that rest. So every byte written to a printer is followed and the result kept in a
// small file per printer (boundary_store.h) under the application's state directory: by
// serial number for a printer found by it, so the printer plugged in again at another address
// is the same printer. Whoever talks to the printer next (a job, a status exchange) first
// sends the bytes that finish the open command and end its page without a cut.
#pragma once

#include "boundary_store.h"
#include "command_boundary.h"

#include <pappl/pappl.h>

#include <memory>
#include <span>
#include <string>

namespace qel
{
class Port;
}

namespace qel_app
{

// The directory of the files (created when needed); set once at start-up.
void set_boundary_directory(const std::string& dir);

// The file's name for a device URI: "serial-..." for a URI that names the printer by serial
// number, "port-..." with the port's path otherwise, empty for a URI that is no printer's.
std::string boundary_key(const std::string& device_uri);

class PrinterBoundary
{
  public:
    // Loads what the last writer to the printer left (a boundary when nothing is known).
    explicit PrinterBoundary(pappl_printer_t* printer);

    const qel::CommandBoundary& state() const { return state_; }
    // Follows bytes that reached the printer and keeps the result.
    void feed(std::span<const uint8_t> bytes);
    // Sends what finishes a command the printer was left inside (nothing when it stands on a
    // boundary outside a page). True when the printer is now on a boundary (or nothing is
    // known to help); false when the bytes could not all be written.
    bool finish_open_command(qel::Port& port, unsigned long timeout_ms);

  private:
    pappl_printer_t* printer_;
    std::unique_ptr<qel::BoundaryStore> store_; // null for a URI without a key
    qel::CommandBoundary state_;
};

} // namespace qel_app
