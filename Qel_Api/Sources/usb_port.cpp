// usb_port.cpp - open and close a printer addressed as /dev/bus/usb/BBB/DDD through libusb.
//
// The printer is found by bus number and address in the device list of
// libusb's default context. Its device descriptor must name a printer of the
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

// The open USB port: its device handle and the interface claimed on it.
libusb_device_handle* lo_open_handle = nullptr;
int lo_claimed_interface = 0;

// What an open has acquired so far; released in reverse order unless the
// open succeeds and hands the handle, the claim and the context to the port.
struct UsbAcquired
{
    bool context = false;
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
            libusb_exit(nullptr);
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
 * read length), the last OUT endpoint written to. QEL_API_INTERFACE becomes
 * the index of the last alternate setting.
 *
 * Returns 0, -6 (no alternate setting) or -7 (a setting with fewer than two
 * endpoints).
 */
int lo_take_endpoints(const libusb_config_descriptor* config)
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
        QEL_API_INTERFACE = i;
        if (setting.bNumEndpoints < 2 || setting.endpoint == nullptr)
        {
            return -7;
        }
        for (int e = 0; e < setting.bNumEndpoints; ++e)
        {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0)
            {
                QEL_API_ACCESS_READ = endpoint.bEndpointAddress;
                QEL_API_ACCESS_READ_ENDPOINT_SIZE = endpoint.wMaxPacketSize;
            }
            else
            {
                QEL_API_ACCESS_WRITE = endpoint.bEndpointAddress;
            }
            api_debug(" Endpoints Descriptor - Endpoint address = %2.2X\n",
                      endpoint.bEndpointAddress);
            api_debug(" Endpoints Descriptor - Size Endpoint = %d\n", endpoint.bLength);
            api_debug(" Endpoints Descriptor - Type  descriptor= %d\n", endpoint.bDescriptorType);
            api_debug(" Endpoints Descriptor - Max packet size = %d\n",
                      QEL_API_ACCESS_READ_ENDPOINT_SIZE);
            api_debug(" ************************************* \n\n");
        }
        api_debug(" Endpoint READ = 0x%2.2X\n", QEL_API_ACCESS_READ);
        api_debug(" Endpoint WRITE= 0x%2.2X\n", QEL_API_ACCESS_WRITE);
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

/*
 * api_usb_open - open the printer named "/dev/bus/usb/BBB/DDD".
 *
 * Returns the address of the libusb device handle, or -1 (no libusb, no
 * device list, libusb_open failed), -2 (no bus/device in the name, no device
 * there, unsupported model), -3 (kernel driver not detached), -4 (interface
 * not claimed in time), -5 (no active configuration), -6 (no alternate
 * setting), -7 (too few endpoints), -8 (no memory for the ring).
 */
intptr_t api_usb_open(const char* port)
{
    long bus = 0;
    long address = 0;
    if (!api_parse_usb_name(port, &bus, &address))
    {
        return -2;
    }

    UsbAcquired acquired;
    if (libusb_init(nullptr) < 0)
    {
        return -1;
    }
    acquired.context = true;
    const ssize_t count = libusb_get_device_list(nullptr, &acquired.list);
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
    const int endpoints = lo_take_endpoints(acquired.config);
    if (endpoints != 0)
    {
        return endpoints;
    }

    const int interface_number = QEL_API_INTERFACE;
    acquired.interface_number = interface_number;
    if (libusb_kernel_driver_active(acquired.handle, interface_number) == 1)
    {
        if (libusb_detach_kernel_driver(acquired.handle, interface_number) != 0)
        {
            return -3;
        }
        acquired.detached = true;
    }
    if (!lo_claim(acquired.handle, interface_number, &acquired.detached))
    {
        return -4;
    }
    acquired.claimed = true;

    auto* ring = static_cast<unsigned char*>(std::calloc(kRxRingSize, 1));
    if (ring == nullptr)
    {
        return -8;
    }
    std::free(m_pub_rx_buffer); // a ring left by an open that was never closed
    m_pub_rx_buffer = ring;
    m_index_rx_bottom = 0;
    m_index_rx_top = 0;

    // The port now owns the handle, the claim and the context; the device
    // list and the configuration descriptor go.
    lo_open_handle = acquired.handle;
    lo_claimed_interface = interface_number;
    acquired.handle = nullptr;
    acquired.claimed = false;
    acquired.detached = false;
    acquired.context = false;
    return reinterpret_cast<intptr_t>(lo_open_handle);
}

/*
 * api_usb_close - release the interface, close the device, free the ring and
 * end the libusb context. A handle that is not the open port's does nothing.
 * The kernel driver is not attached again.
 */
void api_usb_close(intptr_t printer)
{
    libusb_device_handle* handle = api_usb_handle(printer);
    if (handle == nullptr)
    {
        return;
    }
    libusb_release_interface(handle, lo_claimed_interface);
    libusb_close(handle);
    lo_open_handle = nullptr;
    std::free(m_pub_rx_buffer);
    m_pub_rx_buffer = nullptr;
    m_index_rx_bottom = 0;
    m_index_rx_top = 0;
    libusb_exit(nullptr);
}

libusb_device_handle* api_usb_handle(intptr_t printer)
{
    if (printer <= 0 || lo_open_handle == nullptr ||
        reinterpret_cast<intptr_t>(lo_open_handle) != printer)
    {
        return nullptr;
    }
    return lo_open_handle;
}
