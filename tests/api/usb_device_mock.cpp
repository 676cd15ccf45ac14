// usb_device_mock.cpp - usbfs requests of libusb answered the way a printer would.
#include "usb_device_mock.h"

#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <chrono>
#include <mutex>
#include <thread>

namespace api_test
{
namespace
{
void put16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Device, configuration, interface and endpoint descriptors as the sysfs
// "descriptors" attribute holds them.
std::vector<std::uint8_t> build_descriptors(const UsbDeviceSetup& s)
{
    std::vector<std::uint8_t> d = {18, 1, 0x00, 0x02, 0, 0, 0, 64};
    put16(d, s.vendor);
    put16(d, s.product);
    put16(d, 0x0100);
    d.insert(d.end(), {1, 2, 3, 1});

    const unsigned n_endpoints = static_cast<unsigned>(s.endpoints.size());
    const unsigned total = 9 + (s.with_interface ? 9 + 7 * n_endpoints : 0);
    d.insert(d.end(), {9, 2});
    put16(d, total);
    d.insert(d.end(), {static_cast<std::uint8_t>(s.with_interface ? 1 : 0), 1, 0, 0x80, 50});
    if (s.with_interface)
    {
        d.insert(d.end(), {9, 4, 0, 0, static_cast<std::uint8_t>(n_endpoints), 7, 1, 2, 0});
        for (const std::uint8_t address : s.endpoints)
        {
            d.insert(d.end(), {7, 5, address, 2});
            put16(d, s.packet_size);
            d.push_back(0);
        }
    }
    return d;
}

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char digits[3];
    for (const std::uint8_t b : bytes)
    {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

// A transfer libusb submitted: the URB record and its data buffer.
struct Urb
{
    UMockdevIoctlData* urb = nullptr;
    UMockdevIoctlData* buffer = nullptr;

    usbdevfs_urb* record() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
    void release()
    {
        if (buffer != nullptr)
        {
            g_object_unref(buffer);
        }
        if (urb != nullptr)
        {
            g_object_unref(urb);
        }
        urb = buffer = nullptr;
    }
};
} // namespace

struct UsbDeviceMock::Impl
{
    UsbDeviceSetup setup;
    std::string node;
    std::string error;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;

    mutable std::mutex lock;
    std::deque<std::vector<std::uint8_t>> packets;
    std::vector<std::uint8_t> received;
    std::deque<Urb> pending_in;
    std::deque<Urb> done;
    bool bound = true;
    unsigned in_submits = 0;
    unsigned claims = 0;
    unsigned releases = 0;

    // Fills the oldest waiting IN transfer with the next packet.
    void serve_in()
    {
        while (!pending_in.empty() && !packets.empty())
        {
            Urb u = pending_in.front();
            pending_in.pop_front();
            std::vector<std::uint8_t> packet = std::move(packets.front());
            packets.pop_front();
            const std::size_t room = static_cast<std::size_t>(u.record()->buffer_length);
            const std::size_t n = std::min(room, packet.size());
            std::memcpy(u.buffer->data, packet.data(), n);
            u.record()->actual_length = static_cast<int>(n);
            u.record()->status = 0;
            done.push_back(u);
        }
    }

    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        Urb u;
        u.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (u.urb == nullptr)
        {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        usbdevfs_urb* r = u.record();
        u.buffer = umockdev_ioctl_data_resolve(u.urb, offsetof(usbdevfs_urb, buffer),
                                               static_cast<gsize>(r->buffer_length), nullptr);
        if ((r->endpoint & 0x80) != 0)
        {
            ++in_submits;
            pending_in.push_back(u);
            serve_in();
        }
        else
        {
            std::size_t n = static_cast<std::size_t>(r->buffer_length);
            bool error = false;
            if (setup.out_piece != 0 && n > setup.out_piece)
            {
                n = setup.out_piece;
                error = setup.out_piece_error;
            }
            if (setup.out_limit != 0 && received.size() + n > setup.out_limit)
            {
                n = setup.out_limit - received.size();
                error = true;
            }
            received.insert(received.end(), u.buffer->data, u.buffer->data + n);
            r->actual_length = static_cast<int>(n);
            r->status = error ? -EPROTO : 0;
            done.push_back(u);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        serve_in();
        if (done.empty())
        {
            umockdev_ioctl_client_complete(client, -1, EAGAIN);
            return;
        }
        Urb u = done.front();
        done.pop_front();
        UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(slot, 0, u.urb);
        g_object_unref(slot);
        u.release();
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
    {
        const gulong address = *reinterpret_cast<const gulong*>(arg->data);
        for (auto it = pending_in.begin(); it != pending_in.end(); ++it)
        {
            if (it->urb->client_addr == address)
            {
                it->record()->status = -ENOENT;
                it->record()->actual_length = 0;
                done.push_back(*it);
                pending_in.erase(it);
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    // Reads an unsigned int the request points to.
    static unsigned read_uint(UMockdevIoctlData* arg)
    {
        UMockdevIoctlData* value = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
        unsigned result = 0;
        if (value != nullptr)
        {
            std::memcpy(&result, value->data, sizeof result);
            g_object_unref(value);
        }
        return result;
    }

    void handle(UMockdevIoctlClient* client)
    {
        std::lock_guard<std::mutex> guard(lock);
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        switch (request)
        {
        case USBDEVFS_GET_CAPABILITIES:
        {
            UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, 4, nullptr);
            std::memset(caps->data, 0, 4);
            g_object_unref(caps);
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_GETDRIVER:
        {
            if (!bound)
            {
                umockdev_ioctl_client_complete(client, -1, ENODATA);
                break;
            }
            UMockdevIoctlData* gd =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
            auto* record = reinterpret_cast<usbdevfs_getdriver*>(gd->data);
            std::snprintf(record->driver, sizeof record->driver, "usblp");
            g_object_unref(gd);
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_IOCTL:
        {
            UMockdevIoctlData* io =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
            const int code = reinterpret_cast<usbdevfs_ioctl*>(io->data)->ioctl_code;
            g_object_unref(io);
            if (code == static_cast<int>(USBDEVFS_DISCONNECT))
            {
                if (!bound)
                {
                    umockdev_ioctl_client_complete(client, -1, ENODATA);
                }
                else if (setup.detach_fails)
                {
                    umockdev_ioctl_client_complete(client, -1, EPERM);
                }
                else
                {
                    bound = false;
                    umockdev_ioctl_client_complete(client, 0, 0);
                }
            }
            else if (code == static_cast<int>(USBDEVFS_CONNECT))
            {
                // The kernel binds a driver only to a free interface and
                // answers 1 when it did; libusb takes 0 as "no driver".
                const bool free = !bound && claims == releases;
                bound = bound || free;
                umockdev_ioctl_client_complete(client, free ? 1 : 0, 0);
            }
            else
            {
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
            }
            break;
        }
        case USBDEVFS_CLAIMINTERFACE:
            // As in the kernel: an interface held by its driver or by another
            // opener of the node cannot be claimed (libusb never repeats a
            // claim on its own handle).
            if (bound || setup.claim_fails || claims != releases)
            {
                umockdev_ioctl_client_complete(client, -1, EBUSY);
            }
            else
            {
                ++claims;
                umockdev_ioctl_client_complete(client, 0, 0);
            }
            break;
        case USBDEVFS_RELEASEINTERFACE:
            ++releases;
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        case USBDEVFS_SETCONFIGURATION:
        {
            const unsigned value = read_uint(arg);
            umockdev_testbed_set_attribute_int(testbed, sysfs_path().c_str(), "bConfigurationValue",
                                               static_cast<int>(value));
            umockdev_ioctl_client_complete(client, 0, 0);
            break;
        }
        case USBDEVFS_SUBMITURB:
            submit(client, arg);
            break;
        case USBDEVFS_REAPURBNDELAY:
        case USBDEVFS_REAPURB:
            reap(client, arg);
            break;
        case USBDEVFS_DISCARDURB:
            discard(client, arg);
            break;
        default:
            umockdev_ioctl_client_complete(client, -1, ENOTTY);
            break;
        }
    }

    std::string sysfs_path() const
    {
        return "/sys/devices/usb" + std::to_string(setup.bus) + "/" + std::to_string(setup.bus) +
               "-1";
    }

    static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self)
    {
        static_cast<Impl*>(self)->handle(client);
        return TRUE;
    }
};

UsbDeviceMock::UsbDeviceMock(UsbDeviceSetup setup) : impl_(std::make_unique<Impl>())
{
    Impl& m = *impl_;
    m.setup = std::move(setup);
    m.bound = m.setup.kernel_driver;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", m.setup.bus, m.setup.address);
    m.node = node;

    const std::string bus = std::to_string(m.setup.bus);
    const std::string description =
        "P: /devices/usb" + bus + "/" + bus + "-1\n" + "N: " + m.node.substr(5) + "\n" +
        "E: DEVNAME=" + m.node + "\n" + "E: DEVTYPE=usb_device\n" + "E: SUBSYSTEM=usb\n" +
        "A: busnum=" + bus + "\n" + "A: devnum=" + std::to_string(m.setup.address) + "\n" +
        "A: bConfigurationValue=1\n" + "A: speed=12\n" +
        "H: descriptors=" + hex(build_descriptors(m.setup)) + "\n";

    m.testbed = umockdev_testbed_new();
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m.testbed, description.c_str(), &error))
    {
        m.error = error != nullptr ? error->message : "add_from_string failed";
        g_clear_error(&error);
        return;
    }
    m.handler = umockdev_ioctl_base_new();
    g_signal_connect(m.handler, "handle-ioctl", G_CALLBACK(Impl::on_ioctl), &m);
    if (!umockdev_testbed_attach_ioctl(m.testbed, m.node.c_str(), m.handler, &error))
    {
        m.error = error != nullptr ? error->message : "attach_ioctl failed";
        g_clear_error(&error);
    }
}

UsbDeviceMock::~UsbDeviceMock()
{
    Impl& m = *impl_;
    if (m.testbed != nullptr && m.handler != nullptr)
    {
        umockdev_testbed_detach_ioctl(m.testbed, m.node.c_str(), nullptr);
    }
    {
        std::lock_guard<std::mutex> guard(m.lock);
        for (Urb& u : m.pending_in)
        {
            u.release();
        }
        for (Urb& u : m.done)
        {
            u.release();
        }
    }
    if (m.handler != nullptr)
    {
        g_object_unref(m.handler);
    }
    if (m.testbed != nullptr)
    {
        g_object_unref(m.testbed);
    }
}

bool UsbDeviceMock::ok(std::string* error) const
{
    if (error != nullptr)
    {
        *error = impl_->error;
    }
    return impl_->error.empty();
}

std::string UsbDeviceMock::port_name() const
{
    return impl_->node;
}

void UsbDeviceMock::warm_up() const
{
    const int fd = open(impl_->node.c_str(), O_RDWR);
    if (fd >= 0)
    {
        __u32 caps = 0;
        ioctl(fd, USBDEVFS_GET_CAPABILITIES, &caps);
        close(fd);
    }
}

void UsbDeviceMock::queue_packet(std::vector<std::uint8_t> packet)
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->packets.push_back(std::move(packet));
}

std::vector<std::uint8_t> UsbDeviceMock::received() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->received;
}

unsigned UsbDeviceMock::in_submits() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->in_submits;
}

unsigned UsbDeviceMock::claims() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->claims;
}

unsigned UsbDeviceMock::releases() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->releases;
}

bool UsbDeviceMock::driver_bound() const
{
    std::lock_guard<std::mutex> guard(impl_->lock);
    return impl_->bound;
}

namespace
{
int count_entries(const char* path)
{
    int count = 0;
    if (DIR* dir = opendir(path))
    {
        while (const dirent* entry = readdir(dir))
        {
            if (entry->d_name[0] != '.')
            {
                ++count;
            }
        }
        closedir(dir);
    }
    return count;
}
} // namespace

int thread_count()
{
    // Threads of an earlier mock or libusb context may still be ending: count
    // once the number has stayed the same for 50 ms (at most about 2 s).
    int last = count_entries("/proc/self/task");
    for (int tries = 0; tries < 40; ++tries)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const int now = count_entries("/proc/self/task");
        if (now == last)
            break;
        last = now;
    }
    return last;
}

} // namespace api_test
