// printer_link.h - the backend's hold on one printer: the port named by the
// device URI (a serial-number printer on whichever USB port it is now), the
// command boundary of everything written to it, kept in the state store
// after every write, and the status inquiry.
#pragma once

#include "boundary_store.h"
#include "command_boundary.h"
#include "device_uri.h"
#include "port.h"
#include "printer_exchange.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace qel_backend
{

enum class OpenResult
{
    Open,     // the port is open and locked
    NotFound, // no such device (or no printer with that serial number attached)
    Busy,     // another program holds the port
    Refused,  // the device is not a supported printer or cannot be used
};

struct PrinterStatus
{
    bool answered = false;
    uint16_t error_code = 0;
    std::string why; // when not answered: the exchange's message
};

class PrinterLink
{
  public:
    PrinterLink(const qel::DeviceUri& uri, qel::BoundaryStore& store, qel::CommandBoundary state);

    // Opens the port (finding the printer first for a serial-number URI).
    OpenResult open();
    void close();
    bool is_open() const { return port_ != nullptr; }
    // The port tried last, for messages: "/dev/usb/lp0", "USB printer with serial number X".
    const std::string& where() const { return where_; }

    // Writes up to size bytes within timeout_ms; every byte that reached the
    // device goes through the boundary tracker and into the store. Returns
    // the count (0 on a time-out or a failure).
    int write(const unsigned char* data, int size, unsigned long timeout_ms);

    // A status inquiry (record of inquiry bit 0), without the tools' pauses.
    PrinterStatus status(unsigned long timeout_ms);
    // The device ID from the information record (model and serial number);
    // empty when the printer does not answer.
    std::string ask_device_id(unsigned long timeout_ms);

    const qel::CommandBoundary& boundary() const { return state_; }

    // False once the open port's device node is gone (unplugged, or the USB
    // printer re-enumerated at another address).
    bool device_present() const;

  private:
    static int transport_write(void* context, const unsigned char* data, int size,
                               unsigned long timeout_ms);
    static int transport_read(void* context, unsigned char* data, int size,
                              unsigned long timeout_ms);
    static int transport_clear(void* context);

    qel::DeviceUri uri_;
    qel::BoundaryStore& store_;
    qel::CommandBoundary state_;
    std::unique_ptr<qel::Port> port_;
    std::string node_; // device node of the open port
    unsigned usb_bus_ = 0, usb_address_ = 0;
    std::string where_;
    TS_QEL_PD_TRANSPORT transport_{};
};

} // namespace qel_backend
