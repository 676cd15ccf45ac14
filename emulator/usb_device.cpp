// Emulated USB printer: a umockdev testbed with one usbfs node and a handler for the usbdevfs
// requests that libusb-1.0 makes, so that libusb enumerates, opens, claims and transfers
// against the virtual printer without a kernel USB stack.
#include "printer_core.h"

#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <linux/usbdevice_fs.h>
#include <map>
#include <mutex>
#include <set>
#include <sys/ioctl.h>

namespace qel_vp
{

namespace
{

// An URB of the host, kept while it waits for printer bytes.
struct PendingUrb
{
    UMockdevIoctlData* urb = nullptr;    // the struct usbdevfs_urb in the host's memory
    UMockdevIoctlData* buffer = nullptr; // its data buffer
    gulong client_addr = 0;
};

usbdevfs_urb* urb_of(UMockdevIoctlData* d)
{
    return reinterpret_cast<usbdevfs_urb*>(d->data);
}

void release(PendingUrb& p)
{
    if (p.buffer)
        umockdev_ioctl_data_unref(p.buffer);
    if (p.urb)
        umockdev_ioctl_data_unref(p.urb);
    p = PendingUrb{};
}

std::string hex_bytes(const std::vector<std::uint8_t>& bytes)
{
    std::string s;
    char b[4];
    for (const std::uint8_t v : bytes)
    {
        std::snprintf(b, sizeof b, "%02x", v);
        s += b;
    }
    return s;
}

void put16(std::vector<std::uint8_t>& out, unsigned value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Device, configuration, printer interface (class 7/1/2) and bulk endpoint descriptors, as the
// sysfs "descriptors" attribute holds them.
std::vector<std::uint8_t> descriptors(const UsbSetup& usb, unsigned product)
{
    std::vector<std::uint8_t> d = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40};
    put16(d, usb.vendor);
    put16(d, product);
    d.insert(d.end(), {0x00, 0x01, 0x01, 0x02, 0x03, 0x01});
    const auto n_endpoints = static_cast<std::uint8_t>(usb.endpoints.size());
    d.insert(d.end(), {0x09, 0x02});
    put16(d, 9u + (usb.with_interface ? 9u + 7u * n_endpoints : 0u));
    d.insert(d.end(),
             {static_cast<std::uint8_t>(usb.with_interface ? 1 : 0), 0x01, 0x00, 0x80, 0x32});
    if (!usb.with_interface)
        return d;
    d.insert(d.end(), {0x09, 0x04, 0x00, 0x00, n_endpoints, 0x07, 0x01, 0x02, 0x00});
    for (const std::uint8_t address : usb.endpoints)
    {
        d.insert(d.end(), {0x07, 0x05, address, 0x02});
        put16(d, usb.packet_size);
        d.push_back(0x00);
    }
    return d;
}

// The emulated USB bus of this process: one umockdev testbed (umockdev serves one per process,
// through UMOCKDEV_DIR) shared by every emulated printer, and the addresses in use.
struct UsbBus
{
    std::mutex mutex;
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    unsigned users = 0;
    unsigned next_port = 1; // hub port of the next device (its sysfs name BUS-PORT)
    std::set<std::pair<unsigned, unsigned>> addresses;
};

UsbBus& usb_bus()
{
    static UsbBus bus;
    return bus;
}

UMockdevTestbed* bus_acquire(std::string& root)
{
    UsbBus& b = usb_bus();
    std::lock_guard lock(b.mutex);
    if (b.users++ == 0)
    {
        b.testbed = umockdev_testbed_new();
        gchar* dir = umockdev_testbed_get_root_dir(b.testbed);
        b.root = dir;
        g_free(dir);
    }
    root = b.root;
    return b.testbed;
}

void bus_release()
{
    UsbBus& b = usb_bus();
    std::lock_guard lock(b.mutex);
    if (b.users == 0 || --b.users > 0)
        return;
    g_object_unref(b.testbed); // removes the testbed directory
    b.testbed = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(b.root, ec);
    b.root.clear();
}

bool bus_take_address(unsigned bus, unsigned address, std::string* error)
{
    UsbBus& b = usb_bus();
    std::lock_guard lock(b.mutex);
    if (address == 0 || address > 127 || !b.addresses.insert({bus, address}).second)
    {
        if (error)
            *error = "USB address " + std::to_string(bus) + "/" + std::to_string(address) +
                     " is taken or invalid";
        return false;
    }
    return true;
}

void bus_free_address(unsigned bus, unsigned address)
{
    UsbBus& b = usb_bus();
    std::lock_guard lock(b.mutex);
    b.addresses.erase({bus, address});
}

unsigned bus_new_port()
{
    UsbBus& b = usb_bus();
    std::lock_guard lock(b.mutex);
    return b.next_port++;
}

} // namespace

struct UsbDevice::State
{
    PrinterCore& core;
    PrinterOptions options;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    std::string devnode; // /dev/bus/usb/BBB/DDD
    std::string sysfs;   // /sys/devices/usb1/1-1
    std::string root;

    // Handler thread only.
    bool claimed = false;
    bool gone = false;
    std::atomic<bool> unplugged{false}; // this address went away (the printer moved on)
    unsigned address = 0;
    std::deque<PendingUrb> pending_in;
    std::deque<PendingUrb> pending_out; // held while the printer stalls
    std::deque<PendingUrb> done;
    std::optional<Chunk> current; // chunk being handed out packet by packet
    std::size_t current_pos = 0;
    std::vector<unsigned long> unknown_requests;

    UsbDevice::Counters& counters;
    UMockdevIoctlClient* holder = nullptr; // the host (open node) that claimed the interface

    State(PrinterCore& c, const PrinterOptions& o, UsbDevice::Counters& n)
        : core(c), options(o), counters(n)
    {
    }

    void fill_pending();
    void take_out(PendingUrb p);
    void take_pending_out();
    void disconnect_now();
    gboolean handle(UMockdevIoctlClient* client);
    gboolean claim(UMockdevIoctlClient* client, unsigned long request, UMockdevIoctlData* arg);
    gboolean kernel_driver(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void vanished(UMockdevIoctlClient* client);
};

void UsbDevice::State::disconnect_now()
{
    if (gone)
        return;
    gone = true;
    // Every waiting URB ends as the kernel ends them on unplug.
    for (auto* q : {&pending_in, &pending_out})
    {
        for (PendingUrb& p : *q)
        {
            urb_of(p.urb)->status = -ESHUTDOWN;
            urb_of(p.urb)->actual_length = 0;
            done.push_back(p);
        }
        q->clear();
    }
    if (!unplugged)
        core.set_connected(false);
}

// The printer takes the bytes of an OUT transfer.
void UsbDevice::State::take_out(PendingUrb p)
{
    usbdevfs_urb* u = urb_of(p.urb);
    const UsbSetup& usb = options.usb;
    std::size_t n = static_cast<std::size_t>(u->buffer_length);
    bool failed = false;
    if (usb.out_piece != 0 && n > usb.out_piece)
    {
        n = usb.out_piece;
        failed = usb.out_piece_error;
    }
    if (usb.out_limit != 0 && counters.out_taken + n > usb.out_limit)
    {
        n = usb.out_limit - counters.out_taken;
        failed = true;
    }
    counters.out_taken += n;
    core.host_sent(std::span<const std::uint8_t>(p.buffer->data, n));
    u->actual_length = static_cast<int>(n);
    u->status = failed ? -EPROTO : 0;
    done.push_back(p);
    // A disconnect that the frame caused takes effect before the next request.
    if (core.disconnect_requested())
        disconnect_now();
    fill_pending();
}

// OUT transfers held during a stall go on once it is over.
void UsbDevice::State::take_pending_out()
{
    while (!gone && !pending_out.empty() && core.may_take(Clock::now(), nullptr) > 0)
    {
        PendingUrb p = pending_out.front();
        pending_out.pop_front();
        take_out(p);
    }
}

void UsbDevice::State::fill_pending()
{
    while (!gone)
    {
        if (!current)
        {
            current = core.take_due(Clock::now(), nullptr);
            current_pos = 0;
            if (!current)
                return;
        }
        if (current_pos >= current->bytes.size())
        {
            const bool disconnect = current->disconnect;
            current.reset();
            if (disconnect)
                disconnect_now();
            continue;
        }
        if (pending_in.empty())
            return;
        // One transfer takes the rest of the chunk or what fits; full packets run on, a short
        // packet (the chunk's end) ends the transfer.
        PendingUrb p = pending_in.front();
        pending_in.pop_front();
        usbdevfs_urb* u = urb_of(p.urb);
        const std::size_t room = static_cast<std::size_t>(std::max(0, u->buffer_length));
        std::size_t n = std::min(room, current->bytes.size() - current_pos);
        if (n < current->bytes.size() - current_pos)
        {
            const std::size_t packet = options.usb.packet_size;
            n -= n % packet == 0 || n < packet ? 0 : n % packet;
        }
        std::memcpy(p.buffer->data, current->bytes.data() + current_pos, n);
        current_pos += n;
        u->actual_length = static_cast<int>(n);
        u->status = 0;
        done.push_back(p);
    }
}

gboolean UsbDevice::State::handle(UMockdevIoctlClient* client)
{
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    auto complete = [&](long result, int err)
    {
        umockdev_ioctl_client_complete(client, result, err);
        return TRUE;
    };
    if (core.disconnect_requested() || unplugged)
        disconnect_now();

    switch (request)
    {
    case USBDEVFS_GET_CAPABILITIES:
    {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(__u32), nullptr);
        if (!caps)
            return complete(-1, EFAULT);
        const __u32 value = USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        std::memcpy(caps->data, &value, sizeof value);
        return complete(0, 0);
    }
    case USBDEVFS_GETDRIVER:
    {
        UMockdevIoctlData* d =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
        if (!d)
            return complete(-1, EFAULT);
        if (!counters.driver_bound)
            return complete(-1, ENODATA);
        auto* gd = reinterpret_cast<usbdevfs_getdriver*>(d->data);
        std::snprintf(gd->driver, sizeof gd->driver, "usblp");
        return complete(0, 0);
    }
    case USBDEVFS_IOCTL:
        return kernel_driver(client, arg);
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
        return claim(client, request, arg);
    case USBDEVFS_SETCONFIGURATION:
    {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
        if (!d)
            return complete(-1, EFAULT);
        const unsigned value = *reinterpret_cast<unsigned*>(d->data);
        if (value != 1)
            return complete(-1, EINVAL);
        umockdev_testbed_set_attribute(testbed, sysfs.c_str(), "bConfigurationValue", "1");
        return complete(0, 0);
    }
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
        return complete(gone ? -1 : 0, gone ? ENODEV : 0);
    case USBDEVFS_SUBMITURB:
    {
        if (gone)
            return complete(-1, ENODEV);
        UMockdevIoctlData* urb_data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!urb_data)
            return complete(-1, EFAULT);
        usbdevfs_urb* u = urb_of(urb_data);
        const auto& endpoints = options.usb.endpoints;
        if (u->type != USBDEVFS_URB_TYPE_BULK ||
            std::find(endpoints.begin(), endpoints.end(), u->endpoint) == endpoints.end() ||
            u->buffer_length < 0)
            return complete(-1, EINVAL);
        if (!claimed)
            return complete(-1, EINVAL); // the kernel claims implicitly; libusb always claims
        UMockdevIoctlData* buffer =
            umockdev_ioctl_data_resolve(urb_data, offsetof(usbdevfs_urb, buffer),
                                        static_cast<gsize>(u->buffer_length), nullptr);
        if (!buffer)
            return complete(-1, EFAULT);
        PendingUrb p{umockdev_ioctl_data_ref(urb_data), umockdev_ioctl_data_ref(buffer),
                     urb_data->client_addr};
        if ((u->endpoint & 0x80) == 0)
        {
            take_pending_out();
            // A stalled printer leaves the transfer pending (the host's time-out discards it).
            if (!pending_out.empty() || core.may_take(Clock::now(), nullptr) == 0)
                pending_out.push_back(p);
            else
                take_out(p);
        }
        else
        {
            ++counters.in_submits;
            pending_in.push_back(p);
        }
        return complete(0, 0);
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
    {
        take_pending_out();
        fill_pending();
        if (done.empty())
            return complete(-1, gone ? ENODEV : EAGAIN);
        UMockdevIoctlData* ptr = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        if (!ptr)
            return complete(-1, EFAULT);
        PendingUrb p = done.front();
        done.pop_front();
        umockdev_ioctl_data_set_ptr(ptr, 0, p.urb);
        release(p);
        return complete(0, 0);
    }
    case USBDEVFS_DISCARDURB:
    {
        const gulong addr = *reinterpret_cast<gulong*>(arg->data);
        for (auto* q : {&pending_in, &pending_out})
            for (auto it = q->begin(); it != q->end(); ++it)
                if (it->client_addr == addr)
                {
                    urb_of(it->urb)->status = -ENOENT;
                    urb_of(it->urb)->actual_length = 0;
                    done.push_back(*it);
                    q->erase(it);
                    return complete(0, 0);
                }
        return complete(-1, EINVAL);
    }
    default:
        unknown_requests.push_back(request);
        return complete(-1, ENOTTY);
    }
}

// Detaching and attaching usblp (USBDEVFS_IOCTL with USBDEVFS_DISCONNECT or _CONNECT).
gboolean UsbDevice::State::kernel_driver(UMockdevIoctlClient* client, UMockdevIoctlData* arg)
{
    auto complete = [&](long result, int err)
    {
        umockdev_ioctl_client_complete(client, result, err);
        return TRUE;
    };
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
    if (!d)
        return complete(-1, EFAULT);
    const int code = reinterpret_cast<const usbdevfs_ioctl*>(d->data)->ioctl_code;
    if (code == static_cast<int>(USBDEVFS_DISCONNECT))
    {
        if (!counters.driver_bound)
            return complete(-1, ENODATA);
        if (options.usb.detach_fails)
            return complete(-1, EPERM);
        counters.driver_bound = false;
        return complete(0, 0);
    }
    if (code == static_cast<int>(USBDEVFS_CONNECT))
    {
        // The kernel binds the driver only to a free interface and answers 1 when it did.
        const bool binds = !counters.driver_bound && !claimed;
        if (binds)
            counters.driver_bound = true;
        return complete(binds ? 1 : 0, 0);
    }
    return complete(-1, ENOTTY);
}

// As in the kernel: an interface held by its driver or by another opener of the node cannot be
// claimed (EBUSY); the holder's own repeated claim succeeds; only the holder releases it.
gboolean UsbDevice::State::claim(UMockdevIoctlClient* client, unsigned long request,
                                 UMockdevIoctlData* arg)
{
    auto complete = [&](long result, int err)
    {
        umockdev_ioctl_client_complete(client, result, err);
        return TRUE;
    };
    if (gone)
        return complete(-1, ENODEV);
    UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
    if (!d)
        return complete(-1, EFAULT);
    if (*reinterpret_cast<unsigned*>(d->data) != 0)
        return complete(-1, EINVAL);
    if (request == USBDEVFS_RELEASEINTERFACE)
    {
        if (!claimed || holder != client)
            return complete(-1, EINVAL);
        vanished(client);
        return complete(0, 0);
    }
    if (claimed && holder == client)
        return complete(0, 0);
    if (counters.driver_bound || options.usb.claim_fails || claimed)
        return complete(-1, EBUSY);
    core.job_start(); // a host that claims the interface begins a job
    claimed = true;
    holder = client;
    ++counters.claims;
    core.set_host_attached(true);
    return complete(0, 0);
}

// The host's claim ends with its release or when it closes the node (a killed job too).
void UsbDevice::State::vanished(UMockdevIoctlClient* client)
{
    if (!claimed || holder != client)
        return;
    claimed = false;
    holder = nullptr;
    ++counters.releases;
    core.set_host_attached(false);
}

UsbDevice::UsbDevice(PrinterCore& core, const PrinterOptions& options)
    : core_(core), options_(options)
{
}

UsbDevice::~UsbDevice()
{
    stop();
}

namespace
{

gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    return static_cast<UsbDevice::State*>(user)->handle(client);
}

void on_vanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    static_cast<UsbDevice::State*>(user)->vanished(client);
}

void detach(UMockdevTestbed* testbed, UsbDevice::State& s);

} // namespace

bool UsbDevice::start(std::string* error)
{
    if (state_)
        return true;
    testbed_ = bus_acquire(root_);
    port_ = bus_new_port();
    if (!plug(options_.address, error))
    {
        stop();
        return false;
    }
    core_.set_connected(true);
    return true;
}

bool UsbDevice::plug(unsigned address, std::string* error)
{
    const unsigned bus = options_.bus;
    if (!bus_take_address(bus, address, error))
        return false;
    counters_.driver_bound = options_.usb.kernel_driver; // usblp binds a new device
    auto state = std::make_unique<State>(core_, options_, counters_);
    State& s = *state;
    s.testbed = testbed_;
    s.address = address;
    char node[64];
    std::snprintf(node, sizeof node, "bus/usb/%03u/%03u", bus, address);
    s.devnode = std::string("/dev/") + node;
    const std::string devpath = "/devices/usb" + std::to_string(bus) + "/" + std::to_string(bus) +
                                "-" + std::to_string(port_);
    s.sysfs = "/sys" + devpath;
    // A handler left on this node by an earlier plug gives way.
    for (auto& old : retired_)
        if (old->devnode == s.devnode)
            detach(testbed_, *old);

    const unsigned pid = options_.product;
    const std::string hex_descriptors = hex_bytes(descriptors(options_.usb, pid));
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", options_.usb.vendor,
                  pid);
    std::string description =
        "P: " + devpath + "\nN: " + node + "\nE: DEVNAME=" + s.devnode +
        "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nA: busnum=" + std::to_string(bus) +
        "\nA: devnum=" + std::to_string(address) + "\n" + ids +
        "A: bConfigurationValue=1\nA: speed=12\n";
    if (!options_.serial.empty())
        description += "A: serial=" + options_.serial + "\n";
    description += "H: descriptors=" + hex_descriptors + "\n";

    GError* gerr = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, description.c_str(), &gerr))
    {
        if (error)
            *error = std::string("umockdev device: ") + (gerr ? gerr->message : "failed");
        g_clear_error(&gerr);
        bus_free_address(bus, address);
        return false;
    }
    s.handler = umockdev_ioctl_base_new();
    g_signal_connect(s.handler, "handle-ioctl", G_CALLBACK(on_ioctl), &s);
    g_signal_connect(s.handler, "client-vanished", G_CALLBACK(on_vanished), &s);
    if (!umockdev_testbed_attach_ioctl(testbed_, s.devnode.c_str(), s.handler, &gerr))
    {
        if (error)
            *error = std::string("umockdev ioctl handler: ") + (gerr ? gerr->message : "failed");
        g_clear_error(&gerr);
        g_object_unref(s.handler);
        s.handler = nullptr;
        umockdev_testbed_remove_device(testbed_, s.sysfs.c_str());
        bus_free_address(bus, address);
        return false;
    }
    state_ = std::move(state);
    return true;
}

void UsbDevice::unplug()
{
    if (!state_)
        return;
    State& s = *state_;
    // Hosts that still hold the old node get ENODEV from now on, as after an unplug.
    s.unplugged = true;
    umockdev_testbed_uevent(testbed_, s.sysfs.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, s.sysfs.c_str());
    bus_free_address(options_.bus, s.address);
    retired_.push_back(std::move(state_));
}

bool UsbDevice::move_to(unsigned address, std::string* error)
{
    if (!state_)
    {
        if (error)
            *error = "the USB printer is not plugged in";
        return false;
    }
    if (address == state_->address || !bus_take_address(options_.bus, address, error))
    {
        if (error && address == state_->address)
            *error = "the printer is at address " + std::to_string(address) + " already";
        return false;
    }
    bus_free_address(options_.bus, address); // taken again by plug()
    const unsigned old = state_->address;
    unplug();
    if (!plug(address, error))
    {
        std::string ignored;
        plug(old, &ignored);
        return false;
    }
    umockdev_testbed_uevent(testbed_, state_->sysfs.c_str(), "add");
    return true;
}

namespace
{

void detach(UMockdevTestbed* testbed, UsbDevice::State& s)
{
    if (s.handler)
    {
        umockdev_testbed_detach_ioctl(testbed, s.devnode.c_str(), nullptr);
        g_object_unref(s.handler);
        s.handler = nullptr;
    }
    for (auto* q : {&s.pending_in, &s.pending_out, &s.done})
    {
        for (PendingUrb& p : *q)
            release(p);
        q->clear();
    }
}

} // namespace

void UsbDevice::stop()
{
    if (!testbed_)
        return;
    if (state_)
    {
        detach(testbed_, *state_);
        umockdev_testbed_remove_device(testbed_, state_->sysfs.c_str());
        bus_free_address(options_.bus, state_->address);
        state_.reset();
    }
    for (auto& old : retired_)
        detach(testbed_, *old);
    retired_.clear();
    testbed_ = nullptr;
    bus_release();
    core_.set_connected(false);
}

std::string UsbDevice::name() const
{
    return state_ ? state_->devnode : std::string();
}

UsbActivity UsbDevice::activity() const
{
    return {counters_.in_submits.load(), counters_.claims.load(), counters_.releases.load(),
            counters_.driver_bound.load()};
}

std::string UsbDevice::root_dir() const
{
    return root_;
}

} // namespace qel_vp
