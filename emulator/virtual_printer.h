// Virtual printer: a simulated 80 mm thermal printer of the QEL family for tests and the demo.
//
// Three layers, usable one by one:
//   - the page command stream decoder (pure: bytes in, pages out) and the page image writers;
//   - the protocol engine (pure: bytes from the host in, answer chunks out), which plays the
//     printer's side of the inquiry, configuration, reset and upload exchanges and feeds the
//     page command stream to the decoder;
//   - VirtualPrinter, which attaches the engine to a pseudo-terminal ("Ttys" or "/dev/usb/lp"
//     link) or to an emulated USB device (umockdev) and serves it from a background thread.
//
// This is test support in C++; it is not part of the kit's C interface.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qel_vp
{

// The print head: 576 dots, 72 bytes per dot line.
inline constexpr std::size_t kHeadDots = 576;
inline constexpr std::size_t kHeadBytes = kHeadDots / 8;

// CRC-16/IBM-SDLC (reflected 0x1021, init 0xFFFF, final complement); "123456789" gives 0x906E.
std::uint16_t crc16(std::span<const std::uint8_t> data);

// ---------------------------------------------------------------------------------------------
// Page command stream
// ---------------------------------------------------------------------------------------------

// Settings commands 1B F0 01 (speed), 1B F0 05 (density), 1B F0 0D (paper path).
struct PageSettings
{
    std::optional<std::uint8_t> speed;
    std::optional<std::int8_t> density;
    std::optional<std::uint8_t> path;
};

// One printed page copy: everything between two page-end (cut) commands.
struct Page
{
    std::size_t index = 0; // 0-based position in the stream (each copy is a page of its own)
    PageSettings settings; // settings in force while the page printed (they persist)
    PageSettings sent;     // settings commands received since the previous page end
    std::size_t width_bytes = kHeadBytes;         // image width: 72, or the widest line when wider
    std::vector<std::vector<std::uint8_t>> lines; // dot lines as received, repeats expanded
    bool form_feed = false;                       // 0C received before the page end
    bool complete = false;                        // ended by 1B F0 06 01 c
    std::uint8_t cut = 0;                         // operand c of the page end (2 = cut)

    // Statistics over the wire bytes of this page.
    std::size_t plain_lines = 0;     // dot lines sent with 1B F0 02 pieces
    std::size_t rle_lines = 0;       // dot lines sent with 1B F0 03 pieces
    std::size_t pieces = 0;          // graphics command pieces
    std::size_t repeat_commands = 0; // 1B F0 04 commands
    std::size_t repeated_lines = 0;  // lines produced by repeat commands
    std::size_t wire_bytes = 0;      // command bytes of the page, settings and page end included
    std::size_t start_offset = 0;    // stream offset of the first byte of the page
    std::size_t end_offset = 0;      // stream offset just past its page end

    // The page as a packed 1-bit image, one row per dot line, `width` bytes per row (0: the
    // page's width_bytes); shorter lines are padded with zero bytes, longer ones cut.
    std::vector<std::uint8_t> bitmap(std::size_t width = 0) const;
};

// A byte the decoder could not make sense of, with its offset in the stream.
struct DecodeError
{
    std::size_t offset = 0;
    std::string message;
};

struct DecodeResult
{
    std::vector<Page> pages;         // complete pages; an unterminated page comes last
    std::vector<DecodeError> errors; // decoding stops at the first error
    std::size_t bytes = 0;           // stream length
    std::size_t sync_bytes = 0;      // 0x00 bytes between commands (ignored, counted)
    bool ok() const { return errors.empty(); }
};

// Decodes a whole captured command stream. A stream that ends inside a command or inside a
// page (lines after the last page end) is reported as an error; the partial page is kept.
DecodeResult decode_page_stream(std::span<const std::uint8_t> stream);

// Image and settings files of one page, named "<stem>.png", "<stem>.pbm", "<stem>.txt".
// Set dots are black. Return false with a message on an I/O failure.
bool write_png(const Page& page, const std::string& path, std::string* error = nullptr);
bool write_pbm(const Page& page, const std::string& path, std::string* error = nullptr);
bool write_settings(const Page& page, const std::string& path, std::string* error = nullptr);
// All three files of page n as DIR/page-NNN.{png,pbm,txt} (NNN = index + 1, three digits).
bool write_page_files(const Page& page, const std::string& dir, std::string* error = nullptr);

// Human summary of a decode (settings per page, lines, repeat commands, bytes, ratio).
std::string decode_summary(const DecodeResult& result);

// ---------------------------------------------------------------------------------------------
// Printer data: the seven inquiry records and the configuration block
// ---------------------------------------------------------------------------------------------

inline constexpr std::size_t kConfigBlockSize = 255;
using ConfigBlock = std::array<std::uint8_t, kConfigBlockSize>;

// Inquiry kinds by bit number: response type = bit + 2; bit 5 and bits 8-15 have none.
struct InquiryKind
{
    unsigned bit;
    const char* name; // "printer_status", ...
    std::uint8_t type;
    std::uint8_t size;
};
// The seven kinds in bit order; null when the bit has no kind.
const InquiryKind* inquiry_kind(unsigned bit);

struct PrinterData
{
    std::array<std::vector<std::uint8_t>, 8> records; // by inquiry bit; records[5] empty
    ConfigBlock config{};                             // served on configuration download
};

// Deterministic, realistic contents: texts with and without a terminating zero, a negative
// head temperature, counters at odd offsets, a configuration block with a correct CRC-16.
PrinterData default_printer_data(std::uint16_t product = 0x0002);
ConfigBlock default_config_block();
// Recomputes the CRC-16 over bytes 0-252 into bytes 253-254 (little-endian).
void seal_config_block(ConfigBlock& block);

// Loads lines "<key> = [HEX]" (spaces around "=" free; a decimal before "[" is ignored, so the
// raw lines of the inquiry tool and the block line of the configuration tool can be pasted).
// Keys: "configuration_data" (255 bytes) and the record names "printer_status" ... (exact
// record size). Lines without "=" and lines starting with "#" are skipped; anything else that
// does not parse is an error naming the line.
bool load_printer_data(const std::string& path, PrinterData& data, std::string* error = nullptr);
// Puts `serial` (at most 17 characters, padded with zeros) into the information record.
void set_serial_number(PrinterData& data, std::string_view serial);

// ---------------------------------------------------------------------------------------------
// Faults
// ---------------------------------------------------------------------------------------------

// Exchanges a fault can be attached to.
enum class Exchange
{
    Any,            // every answered exchange (inquiry, download, upload frames)
    Inquiry,        // 1D 61 n1 n2
    ConfigDownload, // 1B FF 46 00
    ConfigUpload,   // 1B FF 26 FF + block
    UploadStart,    // 1B FF 20 08 + 8 bytes
    UploadBlock,    // 1B FF 22 n + n bytes (no answer; for Disconnect and Silent only)
    UploadEnd,      // 1B FF 24 02 + CRC
    HardReset,      // 1B F2 03 00 (no answer; for Disconnect only)
};

enum class FaultKind
{
    Silent,          // no answer at all
    Late,            // answer after delay_ms
    WrongType,       // header byte 2 + 1
    WrongSize,       // header byte 3 - 1 (data unchanged)
    WrongFirstByte,  // header byte 0 = 0x00
    WrongSecondByte, // header byte 1 = 0x00
    ShortData,       // the last `count` bytes (default 1) of the answer are withheld
    CancelStatus,    // status byte 0x01 (upload start / end; configuration upload: size byte 1)
    StrayBytes,      // `stray` (default 11 22 33, or `count` bytes 0xEE) sent before the answer
    Split,           // answer sent in pieces of `count` bytes (default 1), one packet each
    Merge,           // answer held back and sent in one packet together with the next answer
    Disconnect,      // port goes away (pty closed; USB: ENODEV) instead of answering / after
                     // receiving the frame
};

struct Fault
{
    Fault() = default;
    Fault(FaultKind kind_, Exchange on_ = Exchange::Any, unsigned nth_ = 1, unsigned delay_ms_ = 0,
          unsigned count_ = 0)
        : kind(kind_), on(on_), nth(nth_), delay_ms(delay_ms_), count(count_)
    {
    }

    FaultKind kind = FaultKind::Silent;
    Exchange on = Exchange::Any;
    unsigned nth = 1;      // the nth matching exchange (1 = first); 0 = every one
    unsigned delay_ms = 0; // Late
    unsigned count = 0;    // ShortData, StrayBytes, Split (see above)
    std::vector<std::uint8_t> stray;
};

// Text form "KIND[:EXCHANGE[:NTH[:PARAM]]]", PARAM being delay_ms (late) or count.
// KIND: silent late wrong-type wrong-size wrong-first wrong-second short cancel stray split merge
// disconnect EXCHANGE: any inquiry config-download config-upload upload-start upload-block
// upload-end reset Examples: "silent:inquiry", "late:config-download:1:700",
// "disconnect:upload-block:3".
bool parse_fault(std::string_view text, Fault& fault, std::string* error = nullptr);
const char* fault_kind_name(FaultKind kind);

// The printer stops taking bytes from the host for `ms` milliseconds once it has received
// `after_bytes` bytes in all (a full buffer, a paper jam cleared by hand), then goes on.
struct Stall
{
    std::size_t after_bytes = 0;
    unsigned ms = 0;
};
// Text form "BYTES:SECONDS", SECONDS with up to three decimals, e.g. "4096:2.5".
bool parse_stall(std::string_view text, Stall& stall, std::string* error = nullptr);
const char* exchange_name(Exchange exchange);

// ---------------------------------------------------------------------------------------------
// Protocol engine
// ---------------------------------------------------------------------------------------------

enum class FrameKind
{
    Sync,           // a run of 0x00 bytes between frames
    Inquiry,        // 1D 61 n1 n2
    ConfigDownload, // 1B FF 46 00
    ConfigUpload,   // 1B FF 26 FF + 255 bytes
    UploadStart,    // 1B FF 20 08 + 8 bytes
    UploadBlock,    // 1B FF 22 n + n bytes
    UploadEnd,      // 1B FF 24 02 + 2 bytes
    HardReset,      // 1B F2 03 00
    PageCommand,    // 1B F0 cmd len + len bytes
    FormFeed,       // 0C
    OtherFrame,     // 1B FF type size + size bytes with a type the printer does not know
    Garbage,        // bytes that start no known frame (reported in errors())
};
const char* frame_kind_name(FrameKind kind);

// One frame the host sent, complete, in arrival order.
struct Frame
{
    FrameKind kind = FrameKind::Garbage;
    std::size_t offset = 0;          // offset of its first byte in everything received
    std::vector<std::uint8_t> bytes; // the whole frame, header included
};

// A data-exchange upload (20/21 start, 22 blocks, 24/25 end).
struct Upload
{
    std::uint16_t type_mask = 0;
    std::uint32_t size = 0;         // announced in the start request
    std::vector<std::uint8_t> data; // received block payloads
    std::size_t blocks = 0;
    bool ended = false;             // end request received
    std::uint16_t crc_received = 0; // CRC-16 of the end request
    bool crc_ok = false;            // matches the data and the size matches the announcement
    std::uint8_t end_status = 0xFF; // status sent in the end response (0 accepted)
};

// A chunk of bytes the printer sends, and how.
struct Reply
{
    std::vector<std::uint8_t> bytes; // may be empty for a pure disconnect
    unsigned delay_ms = 0;           // wait before sending (relative to the previous chunk)
    bool disconnect = false;         // after sending bytes, the port goes away
};

class ProtocolEngine
{
  public:
    explicit ProtocolEngine(PrinterData data = default_printer_data());
    ~ProtocolEngine();
    ProtocolEngine(const ProtocolEngine&) = delete;
    ProtocolEngine& operator=(const ProtocolEngine&) = delete;

    // Bytes from the host, in any pieces. Returns the chunks to send, in order. Incomplete
    // frames wait for more bytes.
    std::vector<Reply> feed(std::span<const std::uint8_t> bytes);

    void set_faults(std::vector<Fault> faults);
    void add_fault(const Fault& fault);

    const std::vector<Frame>& transcript() const;
    const std::vector<Page>& pages() const;         // completed page copies
    const std::vector<DecodeError>& errors() const; // every unparsable byte, with its offset
    const std::vector<Upload>& uploads() const;     // finished and running uploads
    const ConfigBlock& config() const;              // the block in force (served on download)
    const std::optional<ConfigBlock>& pending_config() const; // uploaded, applied at reset
    unsigned hard_resets() const;
    std::size_t received_bytes() const;
    PrinterData& data(); // records and block; changes take effect on the next exchange

    // A new job begins: the host opened the port again (pty) or claimed the interface again
    // (USB). The stream must then be on a command boundary; when it is not, or when the job's
    // first bytes start no command (the tail of a cut-off one), a boundary error is recorded.
    void job_start();
    const std::vector<DecodeError>& boundary_errors() const;

    // Called after each completed page (for writing files as pages finish).
    void set_page_sink(void (*sink)(const Page& page, void* user), void* user);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------------------------------------
// Virtual printer on a port
// ---------------------------------------------------------------------------------------------

enum class PortKind
{
    Ttys, // pty slave linked at a path containing "Ttys"; the host sets termios itself
    Lp,   // pty slave linked at a path containing "/dev/usb/lp"; made raw, VMIN 0, VTIME 1
    Usb,  // umockdev testbed with /dev/bus/usb/BBB/DDD, vendor 0x5E2D, EP 0x81 in, 0x02 out
};

// Usb: how the device describes itself and which usbfs requests it refuses, to lead a host
// through its error paths. The defaults are a sound printer with usblp bound.
struct UsbSetup
{
    std::uint16_t vendor = 0x5E2D;
    std::vector<std::uint8_t> endpoints = {0x81, 0x02}; // bulk endpoints of the interface
    std::uint16_t packet_size = 64;
    bool with_interface = true;   // false: the configuration declares no interface
    bool kernel_driver = true;    // usblp holds the interface when the device appears
    bool detach_fails = false;    // usblp will not let go (EPERM)
    bool claim_fails = false;     // every claim is refused (EBUSY)
    std::size_t out_piece = 0;    // OUT: at most this many bytes per transfer (0: all) ...
    bool out_piece_error = false; // ... and a shortened transfer ends with EPROTO
    std::size_t out_limit = 0;    // OUT: bytes taken in all before every transfer fails (0: none)
};

// Usb: what hosts did to the device so far.
struct UsbActivity
{
    unsigned in_submits = 0;   // IN transfers started
    unsigned claims = 0;       // successful interface claims
    unsigned releases = 0;     // interface releases, explicit or by closing the node
    bool driver_bound = false; // usblp holds the interface now
};

struct PrinterOptions
{
    PortKind kind = PortKind::Ttys;
    std::string link_path;          // Ttys/Lp: link to create (parent directories created)
    std::uint16_t product = 0x0002; // Usb: product id
    unsigned bus = 1, address = 5;  // Usb: /dev/bus/usb/001/005
    UsbSetup usb;                   // Usb: descriptors and refused requests
    bool protocol = true;           // false: only record bytes and send queued answers
    PrinterData data = default_printer_data();
    std::vector<Fault> faults;
    std::vector<Stall> stalls;   // by increasing after_bytes
    std::string serial;          // if set, the serial number of the information record
    std::string out_dir;         // if set, every completed page is written there
    std::string transcript_file; // if set, every frame is appended there as it arrives
};

class VirtualPrinter
{
  public:
    explicit VirtualPrinter(PrinterOptions options);
    ~VirtualPrinter(); // stops
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    // Attaches to the port and starts serving in a background thread.
    bool start(std::string* error = nullptr);
    // Detaches: removes the link or the testbed. Safe to call twice.
    void stop();

    // The name a host passes to the port open: the link path, or "/dev/bus/usb/001/005".
    std::string port_name() const;
    // Usb: the testbed root for UMOCKDEV_DIR (empty otherwise).
    std::string umockdev_dir() const;

    // Everything the host sent so far.
    std::vector<std::uint8_t> received() const;
    std::vector<Frame> transcript() const;
    std::vector<Page> pages() const;
    std::vector<DecodeError> errors() const;
    std::vector<Upload> uploads() const;
    ConfigBlock config() const;
    std::optional<ConfigBlock> pending_config() const;
    unsigned hard_resets() const;
    // Jobs that did not start on a command boundary (see ProtocolEngine::job_start).
    std::vector<DecodeError> boundary_errors() const;
    // Usb: the device goes away and comes back at another address of its bus (a host that
    // enumerates again finds it there); the printer keeps its state. False with a message when
    // the address is taken or invalid.
    bool replug(unsigned address, std::string* error = nullptr);

    // Raw answer bytes, sent as one chunk (Usb: packets of up to 64 bytes) after what is queued.
    void queue_answer(std::vector<std::uint8_t> bytes);
    // Drops what the host sent so far from received() (transcript and pages stay).
    void clear_received();

    void set_faults(std::vector<Fault> faults);
    void add_fault(const Fault& fault);
    // The port goes away now (pty closed; Usb: every further URB fails with ENODEV).
    void disconnect();
    bool connected() const;
    // The host holds the port: has the pty open, or the USB interface claimed.
    bool host_attached() const;
    // Usb: claims, releases, IN transfers and the kernel driver's binding.
    UsbActivity usb_activity() const;

    // Test helpers: wait until at least n bytes / n frames (of any kind but Sync) arrived.
    bool wait_for_bytes(std::size_t n, unsigned timeout_ms) const;
    bool wait_for_frames(std::size_t n, unsigned timeout_ms) const;
    // Wait until every queued answer has been handed to the port.
    bool wait_idle(unsigned timeout_ms) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace qel_vp
