// usb_port.cpp - open and close a printer addressed as /dev/bus/usb/BBB/DDD through libusb.
//
// The printer is found by bus number and address in the device list of a
// libusb context: the default one for the C interface's port, a context of
// its own for every port object, so that closing one port never ends the
// context another still uses. Its device descriptor must name a printer of the
// family before the device is opened at all, so that a device of another
// kind is never reconfigured or taken from its driver. The first interface
// gives the bulk endpoints; the kernel driver (usblp) is detached and the
// interface claimed. A failed open gives back everything it acquired, since
// the caller gets no handle to close, and hands a detached interface back to
// its kernel driver.
#include "api_internal.h"
#include "Qel_Api.h"
#include "Qel_Tb.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <libusb.h>
#include <unistd.h>

namespace
{
// Time allowed for claiming the interface, and the pause between tries.
constexpr unsigned long kClaimTimeoutMs = 1000;
constexpr unsigned long kClaimPauseMs = 100;

// The C interface's USB port.
qel::detail::UsbLink lo_link;

// What an open has acquired so far; released in reverse order unless the
// open succeeds and hands the handle, the claim and the context to the port.
struct UsbAcquired
{
    bool context = false;
    libusb_context* ctx = nullptr;
    libusb_device** list = nullptr;
    libusb_device_handle* handle = nullptr;
    libusb_config_descriptor* config = nullptr;
    bool claimed = false;
    bool detached = false; // the kernel driver of interface_number was detached
    int interface_number = 0;

    UsbAcquired() = default;
    UsbAcquired(const UsbAcquired&) = delete;
    UsbAcquired& operator=(const UsbAcquired&) = delete;
    ~UsbAcquired()
    {
        if (config != nullptr)
        {
            libusb_free_config_descriptor(config);
        }
        if (claimed)
        {
            libusb_release_interface(handle, interface_number);
        }
        if (detached)
        {
            libusb_attach_kernel_driver(handle, interface_number);
        }
        if (handle != nullptr)
        {
            libusb_close(handle);
        }
        if (list != nullptr)
        {
            libusb_free_device_list(list, 1);
        }
        if (context)
        {
            libusb_exit(ctx);
        }
    }
};

/*
 * lo_find_device - the device at bus and address in the list, or null.
 */
libusb_device* lo_find_device(libusb_device** list, ssize_t count, long bus, long address)
{
    for (ssize_t i = 0; i < count; ++i)
    {
        libusb_device* device = list[i];
        if (device == nullptr)
        {
            continue;
        }
        if (libusb_get_bus_number(device) == bus && libusb_get_device_address(device) == address)
        {
            return device;
        }
    }
    return nullptr;
}

/*
 * lo_take_endpoints - endpoint variables from every alternate setting of the
 * first interface: the last IN endpoint is read from (its packet size is the
 * read length), the last OUT endpoint written to. The interface number
 * becomes the index of the last alternate setting.
 *
 * Returns 0, -6 (no alternate setting) or -7 (a setting with fewer than two
 * endpoints).
 */
int lo_take_endpoints(const libusb_config_descriptor* config, qel::detail::UsbEndpoints& ep)
{
    if (config->bNumInterfaces < 1 || config->interface == nullptr ||
        config->interface[0].num_altsetting < 1 || config->interface[0].altsetting == nullptr)
    {
        return -6;
    }
    const libusb_interface& first = config->interface[0];
    for (int i = 0; i < first.num_altsetting; ++i)
    {
        const libusb_interface_descriptor& setting = first.altsetting[i];
        api_debug(" Endpoints count = %d\n", setting.bNumEndpoints);
        ep.interface_number = i;
        if (setting.bNumEndpoints < 2 || setting.endpoint == nullptr)
        {
            return -7;
        }
        for (int e = 0; e < setting.bNumEndpoints; ++e)
        {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0)
            {
                ep.read = endpoint.bEndpointAddress;
                ep.read_packet_size = endpoint.wMaxPacketSize;
            }
            else
            {
                ep.write = endpoint.bEndpointAddress;
            }
            api_debug(" Endpoints Descriptor - Endpoint address = %2.2X\n",
                      endpoint.bEndpointAddress);
            api_debug(" Endpoints Descriptor - Size Endpoint = %d\n", endpoint.bLength);
            api_debug(" Endpoints Descriptor - Type  descriptor= %d\n", endpoint.bDescriptorType);
            api_debug(" Endpoints Descriptor - Max packet size = %d\n", ep.read_packet_size);
            api_debug(" ************************************* \n\n");
        }
        api_debug(" Endpoint READ = 0x%2.2X\n", ep.read);
        api_debug(" Endpoint WRITE= 0x%2.2X\n", ep.write);
    }
    return 0;
}

/*
 * lo_claim - claim the interface within 1000 ms; after each refusal detach
 * the kernel driver once more and pause 100 ms. A detach that succeeds sets
 * *detached. Returns true when claimed.
 */
bool lo_claim(libusb_device_handle* handle, int interface_number, bool* detached)
{
    struct timespec start;
    qel_tb_set_time_stamp(&start);
    for (;;)
    {
        if (libusb_claim_interface(handle, interface_number) == 0)
        {
            return true;
        }
        const int detach = libusb_detach_kernel_driver(handle, interface_number);
        api_debug(" DETACH error = %d \n", detach);
        if (detach == 0)
        {
            *detached = true;
        }
        usleep(static_cast<useconds_t>(std::min(kClaimPauseMs, kClaimTimeoutMs) * 1000));
        if (qel_tb_calc_age_in_ms(&start) >= kClaimTimeoutMs)
        {
            return false;
        }
    }
}
} // namespace

namespace qel::detail
{

/*
 * usb_open - open the printer at bus and address.
 *
 * Returns 0 with the link and the ring set up, or -1 (no libusb, no device
 * list, libusb_open failed), -2 (no device there, unsupported model), -3
 * (kernel driver not detached), -4 (interface not claimed in time), -5 (no
 * active configuration), -6 (no alternate setting), -7 (too few endpoints),
 * -8 (no memory for the ring).
 */
int usb_open(UsbLink& link, bool own_context, long bus, long address, UsbEndpoints& endpoints,
             RxRing& ring)
{
    UsbAcquired acquired;
    if (libusb_init(own_context ? &acquired.ctx : nullptr) < 0)
    {
        return -1;
    }
    acquired.context = true;
    const ssize_t count = libusb_get_device_list(acquired.ctx, &acquired.list);
    if (count < 0)
    {
        acquired.list = nullptr;
        return -1;
    }
    libusb_device* device = lo_find_device(acquired.list, count, bus, address);
    if (device == nullptr)
    {
        return -2;
    }
    // Nothing is done to a device of another kind: libusb reads the device
    // descriptor from its cache, without opening the device.
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        !api_is_supported_model(descriptor.idVendor, descriptor.idProduct))
    {
        return -2;
    }
    if (libusb_open(device, &acquired.handle) != 0)
    {
        acquired.handle = nullptr;
        return -1;
    }

    // The printer works in configuration 1.
    int configuration = -1;
    if (libusb_get_configuration(acquired.handle, &configuration) != 0)
    {
        configuration = -1;
    }
    api_debug(" Configuration = %d\n", configuration);
    if (configuration != 1)
    {
        libusb_set_configuration(acquired.handle, 1);
    }

    if (libusb_get_active_config_descriptor(device, &acquired.config) != 0)
    {
        acquired.config = nullptr;
        api_debug(" Active config Error  \n");
        return -5;
    }
    const int taken = lo_take_endpoints(acquired.config, endpoints);
    if (taken != 0)
    {
        return taken;
    }

    const int interface_number = endpoints.interface_number;
    acquired.interface_number = interface_number;
    if (libusb_kernel_driver_active(acquired.handle, interface_number) == 1)
    {
        if (libusb_detach_kernel_driver(acquired.handle, interface_number) != 0)
        {
            return -3;
        }
        acquired.detached = true;
    }
    // Another program that holds the interface keeps it: the claim fails.
    if (!lo_claim(acquired.handle, interface_number, &acquired.detached))
    {
        return -4;
    }
    acquired.claimed = true;

    if (!ring.allocate())
    {
        return -8;
    }

    // The port now owns the handle, the claim and the context; the device
    // list and the configuration descriptor go.
    link.context = acquired.ctx;
    link.handle = acquired.handle;
    link.claimed_interface = interface_number;
    acquired.handle = nullptr;
    acquired.claimed = false;
    acquired.detached = false;
    acquired.context = false;
    return 0;
}

/*
 * usb_close - release the interface, close the device, free the ring and end
 * the libusb context. The kernel driver is not attached again.
 */
void usb_close(UsbLink& link, RxRing& ring)
{
    if (link.handle == nullptr)
    {
        return;
    }
    libusb_release_interface(link.handle, link.claimed_interface);
    libusb_close(link.handle);
    link.handle = nullptr;
    ring.release();
    libusb_exit(link.context);
    link.context = nullptr;
}

} // namespace qel::detail

/*
 * api_usb_open - open the printer named "/dev/bus/usb/BBB/DDD" as the C
 * interface's port, in libusb's default context, with the exported endpoint
 * and ring variables. Returns the address of the libusb device handle, or a
 * failure code of usb_open (-2 also for a name without bus and device).
 */
intptr_t api_usb_open(const char* port)
{
    long bus = 0;
    long address = 0;
    if (!api_parse_usb_name(port, &bus, &address))
    {
        return -2;
    }
    qel::detail::UsbLink link;
    qel::detail::UsbEndpoints endpoints = qel::detail::default_endpoints();
    qel::detail::RxRing ring = qel::detail::default_ring();
    const int result = qel::detail::usb_open(link, false, bus, address, endpoints, ring);
    if (result != 0)
    {
        return result;
    }
    lo_link = link;
    return reinterpret_cast<intptr_t>(lo_link.handle);
}

/*
 * api_usb_close - close the C interface's USB port. A handle that is not the
 * open port's does nothing.
 */
void api_usb_close(intptr_t printer)
{
    if (api_usb_handle(printer) == nullptr)
    {
        return;
    }
    qel::detail::RxRing ring = qel::detail::default_ring();
    qel::detail::usb_close(lo_link, ring);
}

libusb_device_handle* api_usb_handle(intptr_t printer)
{
    if (printer <= 0 || lo_link.handle == nullptr ||
        reinterpret_cast<intptr_t>(lo_link.handle) != printer)
    {
        return nullptr;
    }
    return lo_link.handle;
}
