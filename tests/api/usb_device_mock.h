// usb_device_mock.h - an emulated usbfs printer (umockdev) whose behaviour each test chooses.
//
// The test binary runs under umockdev-wrapper; libusb then finds the device at
// /dev/bus/usb/BBB/DDD and talks to this handler through usbfs ioctls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace api_test
{

struct UsbDeviceSetup
{
    unsigned bus = 1;
    unsigned address = 5;
    std::uint16_t vendor = 0x5E2D;
    std::uint16_t product = 0x0002;
    // Endpoint addresses of the one interface (bulk, 64-byte packets).
    std::vector<std::uint8_t> endpoints = {0x81, 0x02};
    std::uint16_t packet_size = 64;
    bool with_interface = true; // false: the configuration declares no interface
    bool kernel_driver = true;  // usblp bound at start
    bool detach_fails = false;  // the kernel refuses to let go of usblp
    bool claim_fails = false;   // every claim is refused (EBUSY)
    // OUT: at most this many bytes per transfer try (0: all), and whether a
    // shortened try ends with an I/O error instead of success.
    std::size_t out_piece = 0;
    bool out_piece_error = false;
    // OUT: total bytes the printer takes before it refuses everything (0: no limit).
    std::size_t out_limit = 0;
};

class UsbDeviceMock
{
  public:
    explicit UsbDeviceMock(UsbDeviceSetup setup = {});
    ~UsbDeviceMock();
    UsbDeviceMock(const UsbDeviceMock&) = delete;
    UsbDeviceMock& operator=(const UsbDeviceMock&) = delete;

    // False (with a message) when the testbed could not be built.
    bool ok(std::string* error = nullptr) const;
    std::string port_name() const; // "/dev/bus/usb/BBB/DDD"
    // Opens the node once and asks it something, so that the emulation has set
    // up its own threads and descriptors before a test counts them.
    void warm_up() const;

    // One packet the printer sends on its IN endpoint (at most one read try's worth).
    void queue_packet(std::vector<std::uint8_t> packet);
    std::vector<std::uint8_t> received() const; // bytes the host wrote

    unsigned in_submits() const; // IN transfers the host started
    unsigned claims() const;     // successful claims
    unsigned releases() const;   // interface releases
    bool driver_bound() const;   // usblp holds the interface (detach unbinds, connect binds)

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Threads of this process once their number has settled (libusb's context
// owns one while it lives).
int thread_count();

} // namespace api_test
