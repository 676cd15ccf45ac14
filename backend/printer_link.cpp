// printer_link.cpp - opening the printer, tracked writes, status inquiries.
#include "printer_link.h"

#include "discovery.h"
#include "inquiry_records.h"

#include <sys/stat.h>

#include <cstdio>

namespace qel_backend
{

PrinterLink::PrinterLink(const qel::DeviceUri& uri, qel::BoundaryStore& store,
                         qel::CommandBoundary state)
    : uri_(uri), store_(store), state_(state)
{
    transport_.pvContext = this;
    transport_.pfnWrite = transport_write;
    transport_.pfnRead = transport_read;
    transport_.pfnClear = transport_clear;
    switch (uri_.kind)
    {
    case qel::DeviceKind::BySerialNumber:
        where_ = "USB printer with serial number " + uri_.serial_number;
        break;
    case qel::DeviceKind::SerialLine:
        where_ = uri_.path + " at " + std::to_string(uri_.baud) + " baud";
        break;
    default:
        where_ = uri_.path;
        break;
    }
}

OpenResult PrinterLink::open()
{
    close();
    qel::PortSetup setup;
    switch (uri_.kind)
    {
    case qel::DeviceKind::BySerialNumber:
    {
        const auto found = qel::find_printer_by_serial(uri_.serial_number);
        if (!found)
            return OpenResult::NotFound;
        setup = *found;
        std::string path = setup.path;
        if (setup.kind == qel::PortKind::Usb)
        {
            char p[40];
            std::snprintf(p, sizeof p, "/dev/bus/usb/%03u/%03u", setup.bus, setup.address);
            path = p;
        }
        where_ = "USB printer with serial number " + uri_.serial_number + " (" + path + ")";
        break;
    }
    case qel::DeviceKind::UsbLpNode:
        setup = qel::PortSetup::char_device(uri_.path);
        break;
    case qel::DeviceKind::UsbDevice:
        setup = qel::PortSetup::usb(uri_.bus, uri_.address);
        break;
    case qel::DeviceKind::SerialLine:
        setup = qel::PortSetup::serial(uri_.path, uri_.baud);
        break;
    }
    node_ = setup.path;
    usb_bus_ = setup.bus;
    usb_address_ = setup.address;
    if (setup.kind == qel::PortKind::Usb)
    {
        char p[40];
        std::snprintf(p, sizeof p, "/dev/bus/usb/%03u/%03u", setup.bus, setup.address);
        node_ = p;
    }
    int code = 0;
    port_ = qel::Port::open(setup, &code);
    if (port_)
        return OpenResult::Open;
    struct stat st;
    switch (code)
    {
    case -1: // could not be opened, or locked by another opener
        if (setup.kind != qel::PortKind::Usb && ::stat(setup.path.c_str(), &st) != 0)
            return OpenResult::NotFound;
        return OpenResult::Busy;
    case -2:
        return uri_.kind == qel::DeviceKind::UsbDevice ? OpenResult::NotFound : OpenResult::Refused;
    case -3:
    case -4:
        return OpenResult::Busy;
    default:
        return OpenResult::Refused;
    }
}

bool PrinterLink::device_present() const
{
    if (port_ && port_->kind() == qel::PortKind::Usb)
        return qel::usb_device_listed(usb_bus_, usb_address_);
    struct stat st;
    return ::stat(node_.c_str(), &st) == 0;
}

void PrinterLink::close()
{
    port_.reset();
}

int PrinterLink::write(const unsigned char* data, int size, unsigned long timeout_ms)
{
    if (!port_ || size <= 0)
        return 0;
    const int n = port_->write(data, size, timeout_ms);
    if (n > 0)
    {
        qel::boundary_feed(state_, std::span<const uint8_t>(data, size_t(n)));
        store_.save(state_);
    }
    return n > 0 ? n : 0;
}

int PrinterLink::transport_write(void* context, const unsigned char* data, int size,
                                 unsigned long timeout_ms)
{
    return static_cast<PrinterLink*>(context)->write(data, size, timeout_ms);
}

int PrinterLink::transport_read(void* context, unsigned char* data, int size,
                                unsigned long timeout_ms)
{
    auto* link = static_cast<PrinterLink*>(context);
    return link->port_ ? link->port_->read(data, size, timeout_ms) : 0;
}

int PrinterLink::transport_clear(void* context)
{
    auto* link = static_cast<PrinterLink*>(context);
    if (!link->port_)
        return 0;
    if (link->port_->kind() == qel::PortKind::Usb)
        return link->port_->clear();
    // A character device is emptied by reads that do not wait: the port's
    // own clear listens 100 ms for late bytes, a pause the status check
    // before every job does not need (the answer is checked byte for byte).
    unsigned char junk[256];
    while (link->port_->read(junk, sizeof junk, 0) > 0)
    {
    }
    return 1;
}

PrinterStatus PrinterLink::status(unsigned long timeout_ms)
{
    PrinterStatus result;
    unsigned char record[QEL_PD_INQ_MAX_RECORD] = {};
    const TS_QEL_PD_INQ_KIND* kind = qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_STATUS);
    if (!port_ || !kind)
    {
        result.why = "port not open";
        return result;
    }
    if (const char* why = qel::quick_inquiry(transport_, EV_QEL_PD_INQ_STATUS, record, timeout_ms))
    {
        result.why = why;
        return result;
    }
    result.answered = true;
    qel_pd_status_error_code(std::span<const unsigned char>(record, kind->nSize),
                             &result.error_code);
    return result;
}

std::string PrinterLink::ask_device_id(unsigned long timeout_ms)
{
    unsigned char record[QEL_PD_INQ_MAX_RECORD] = {};
    const TS_QEL_PD_INQ_KIND* kind = qel_pd_inq_kind_of_bit(EV_QEL_PD_INQ_INFORMATION);
    if (!port_ || !kind ||
        qel::quick_inquiry(transport_, EV_QEL_PD_INQ_INFORMATION, record, timeout_ms))
        return {};
    const std::span<const unsigned char> info(record, kind->nSize);
    std::string serial;
    qel_pd_info_serial_nr(info, &serial);
    uint32_t model_code = 0;
    unsigned short product = 0;
    if (qel_pd_info_model_code(info, &model_code) && (model_code >> 16) == qel::kQelUsbVendor)
        product = static_cast<unsigned short>(model_code & 0xFFFF);
    return qel::printer_device_id(qel::model_for_product(product), serial);
}

} // namespace qel_backend
