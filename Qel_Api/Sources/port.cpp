// port.cpp - printer ports as objects: each one with its own descriptor or libusb context,
// endpoints and receive ring, driven by the same transfer loops as the C interface's port.
#include "port.h"

#include "api_internal.h"

#include <new>
#include <unistd.h>
#include <utility>

namespace qel
{

PortSetup PortSetup::char_device(std::string path)
{
    PortSetup setup;
    setup.kind = PortKind::CharDevice;
    setup.path = std::move(path);
    return setup;
}

PortSetup PortSetup::serial(std::string path, unsigned long baud)
{
    PortSetup setup;
    setup.kind = PortKind::Serial;
    setup.path = std::move(path);
    setup.baud = baud;
    return setup;
}

PortSetup PortSetup::usb(unsigned bus, unsigned address)
{
    PortSetup setup;
    setup.kind = PortKind::Usb;
    setup.bus = bus;
    setup.address = address;
    return setup;
}

struct Port::Impl
{
    PortKind kind = PortKind::CharDevice;
    bool rts_cts = true;
    int fd = -1;

    // USB: the port's own variables, in the roles of the exported ones.
    detail::UsbLink link;
    int write_endpoint = 0x02;
    int read_endpoint = 0x81;
    int read_packet_size = 64;
    int interface_number = 0;
    unsigned char* ring_storage = nullptr;
    int ring_bottom = 0;
    int ring_top = 0;
    detail::UsbEndpoints endpoints{write_endpoint, read_endpoint, read_packet_size,
                                   interface_number};
    detail::RxRing ring{ring_storage, ring_bottom, ring_top};

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() { close(); }

    bool is_open() const { return fd >= 0 || link.handle != nullptr; }
    // Gives up the lock with the descriptor, or the claim, the ring and the context.
    void close()
    {
        if (fd >= 0)
        {
            ::close(fd);
            fd = -1;
        }
        detail::usb_close(link, ring);
    }
};

namespace
{
// Opens a character device or a serial line into impl; 0 or a failure code.
int lo_open_char(Port::Impl& impl, const PortSetup& setup)
{
    speed_t speed = 0;
    if (setup.kind == PortKind::Serial && !detail::serial_speed_code(setup.baud, &speed))
    {
        return -2;
    }
    const int fd = detail::char_open(setup.path.c_str(), true);
    if (fd < 0)
    {
        return -1;
    }
    if (setup.kind == PortKind::Serial &&
        !detail::char_apply_settings(fd, detail::serial_settings(speed, 'n', 1, setup.rts_cts)))
    {
        close(fd);
        return -1;
    }
    impl.fd = fd;
    return 0;
}
} // namespace

std::unique_ptr<Port> Port::open(const PortSetup& setup, int* error)
{
    std::unique_ptr<Impl> impl(new (std::nothrow) Impl);
    int result = -8;
    if (impl)
    {
        impl->kind = setup.kind;
        impl->rts_cts = setup.rts_cts;
        result = setup.kind == PortKind::Usb
                     ? detail::usb_open(impl->link, true, setup.bus, setup.address, impl->endpoints,
                                        impl->ring)
                     : lo_open_char(*impl, setup);
    }
    std::unique_ptr<Port> port;
    if (result == 0)
    {
        port.reset(new (std::nothrow) Port(std::move(impl)));
        if (!port)
        {
            result = -8; // the open device goes with impl
        }
    }
    if (error != nullptr)
    {
        *error = result;
    }
    return port;
}

Port::Port(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Port::~Port() = default;

PortKind Port::kind() const
{
    return impl_->kind;
}

bool Port::is_open() const
{
    return impl_->is_open();
}

int Port::write(const unsigned char* data, int size, unsigned long timeout_ms)
{
    if (data == nullptr || size <= 0 || !impl_->is_open())
    {
        return 0;
    }
    if (impl_->kind == PortKind::Usb)
    {
        return detail::usb_write(impl_->link.handle, impl_->endpoints, data, size, timeout_ms);
    }
    return detail::char_write(impl_->fd, data, size, timeout_ms);
}

int Port::read(unsigned char* data, int size, unsigned long timeout_ms)
{
    if (data == nullptr || size <= 0 || !impl_->is_open())
    {
        return 0;
    }
    if (impl_->kind == PortKind::Usb)
    {
        return detail::usb_read(impl_->link.handle, impl_->endpoints, impl_->ring, data, size,
                                timeout_ms);
    }
    return detail::char_read(impl_->fd, data, size, timeout_ms);
}

int Port::clear()
{
    if (!impl_->is_open())
    {
        return 0;
    }
    if (impl_->kind == PortKind::Usb)
    {
        impl_->ring.clear();
    }
    else
    {
        detail::char_clear(impl_->fd);
    }
    return 1;
}

bool Port::set_serial(unsigned long baud, unsigned char parity, unsigned char stop_bits)
{
    speed_t speed = 0;
    if (impl_->kind != PortKind::Serial || impl_->fd < 0 ||
        !detail::serial_speed_code(baud, &speed))
    {
        return false;
    }
    return detail::char_apply_settings(
        impl_->fd, detail::serial_settings(speed, parity, stop_bits, impl_->rts_cts));
}

void Port::close()
{
    impl_->close();
}

} // namespace qel
