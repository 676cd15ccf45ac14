// Placeholder definitions of the virtual printer interface while it is being built.
#include "virtual_printer.h"

namespace qel_vp
{
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
