// Placeholder definitions of the virtual printer interface while it is being built.
#include "virtual_printer.h"

namespace qel_vp
{
const InquiryKind* inquiry_kind(unsigned)
{
    return nullptr;
}
PrinterData default_printer_data(std::uint16_t)
{
    return {};
}
ConfigBlock default_config_block()
{
    return {};
}
void seal_config_block(ConfigBlock&) {}
bool load_printer_data(const std::string&, PrinterData&, std::string*)
{
    return false;
}
bool parse_fault(std::string_view, Fault&, std::string*)
{
    return false;
}
const char* fault_kind_name(FaultKind)
{
    return "";
}
const char* exchange_name(Exchange)
{
    return "";
}
const char* frame_kind_name(FrameKind)
{
    return "";
}

struct ProtocolEngine::Impl
{
    std::vector<Frame> transcript;
    std::vector<Page> pages;
    std::vector<DecodeError> errors;
    std::vector<Upload> uploads;
    PrinterData data;
    std::optional<ConfigBlock> pending;
};
ProtocolEngine::ProtocolEngine(PrinterData data) : impl_(std::make_unique<Impl>())
{
    impl_->data = std::move(data);
}
ProtocolEngine::~ProtocolEngine() = default;
std::vector<Reply> ProtocolEngine::feed(std::span<const std::uint8_t>)
{
    return {};
}
void ProtocolEngine::set_faults(std::vector<Fault>) {}
void ProtocolEngine::add_fault(const Fault&) {}
const std::vector<Frame>& ProtocolEngine::transcript() const
{
    return impl_->transcript;
}
const std::vector<Page>& ProtocolEngine::pages() const
{
    return impl_->pages;
}
const std::vector<DecodeError>& ProtocolEngine::errors() const
{
    return impl_->errors;
}
const std::vector<Upload>& ProtocolEngine::uploads() const
{
    return impl_->uploads;
}
const ConfigBlock& ProtocolEngine::config() const
{
    return impl_->data.config;
}
const std::optional<ConfigBlock>& ProtocolEngine::pending_config() const
{
    return impl_->pending;
}
unsigned ProtocolEngine::hard_resets() const
{
    return 0;
}
std::size_t ProtocolEngine::received_bytes() const
{
    return 0;
}
PrinterData& ProtocolEngine::data()
{
    return impl_->data;
}
void ProtocolEngine::set_page_sink(void (*)(const Page&, void*), void*) {}

struct VirtualPrinter::Impl
{
    PrinterOptions options;
};
VirtualPrinter::VirtualPrinter(PrinterOptions options) : impl_(std::make_unique<Impl>())
{
    impl_->options = std::move(options);
}
VirtualPrinter::~VirtualPrinter() = default;
bool VirtualPrinter::start(std::string* error)
{
    if (error)
        *error = "not built yet";
    return false;
}
void VirtualPrinter::stop() {}
std::string VirtualPrinter::port_name() const
{
    return impl_->options.link_path;
}
std::string VirtualPrinter::umockdev_dir() const
{
    return {};
}
std::vector<std::uint8_t> VirtualPrinter::received() const
{
    return {};
}
std::vector<Frame> VirtualPrinter::transcript() const
{
    return {};
}
std::vector<Page> VirtualPrinter::pages() const
{
    return {};
}
std::vector<DecodeError> VirtualPrinter::errors() const
{
    return {};
}
std::vector<Upload> VirtualPrinter::uploads() const
{
    return {};
}
ConfigBlock VirtualPrinter::config() const
{
    return {};
}
std::optional<ConfigBlock> VirtualPrinter::pending_config() const
{
    return {};
}
unsigned VirtualPrinter::hard_resets() const
{
    return 0;
}
void VirtualPrinter::queue_answer(std::vector<std::uint8_t>) {}
void VirtualPrinter::clear_received() {}
void VirtualPrinter::set_faults(std::vector<Fault>) {}
void VirtualPrinter::add_fault(const Fault&) {}
void VirtualPrinter::disconnect() {}
bool VirtualPrinter::connected() const
{
    return false;
}
bool VirtualPrinter::wait_for_bytes(std::size_t, unsigned) const
{
    return false;
}
bool VirtualPrinter::wait_for_frames(std::size_t, unsigned) const
{
    return false;
}
bool VirtualPrinter::wait_idle(unsigned) const
{
    return false;
}
} // namespace qel_vp
