// What an exchange with the printer reports when it goes wrong: the text the printer data
// library and the upload tool return, which the maintenance tools print after "failed => ".
// The tests' own record of the texts, each written once for every test that expects it.
#pragma once

namespace failure_text
{

// Inquiry 1D 61 n1 n2, answered 1B FF type size and the record. A header that differs only
// in its type byte is a type mismatch; any other difference is a size mismatch. Both texts
// end in a space.
inline constexpr char inquiry_not_sent[] = "Could not send inquiry to printer";
inline constexpr char inquiry_no_header[] = "Did not receive data response header";
inline constexpr char inquiry_type[] = "Mismatch in type of received data ";
inline constexpr char inquiry_size[] = "Mismatch in size of received data ";
inline constexpr char inquiry_no_data[] = "Did not receive inquired data";

// Configuration block download 1B FF 46 00 and upload 1B FF 26 FF + block; both answers
// start with a header, whose absence is reported alike.
inline constexpr char config_no_header[] = "Did not receive configuration data response header";
inline constexpr char download_not_sent[] =
    "Could not send configuration data download request to printer";
inline constexpr char download_type[] =
    "Mismatch in type of received download configuration data response header";
inline constexpr char download_size[] =
    "Mismatch in size of received download configuration data response header";
inline constexpr char download_no_data[] = "Did not receive configuration data";
// The upload's header write ends in " 1"; the block's write does not.
inline constexpr char config_upload_header_not_sent[] =
    "Could not send configuration data upload request to printer 1";
inline constexpr char config_upload_block_not_sent[] =
    "Could not send configuration data upload request to printer";
inline constexpr char config_upload_type[] =
    "Mismatch in type of received upload configuration data response header";
inline constexpr char config_upload_size[] =
    "Mismatch in size of received upload configuration data response header";

// Hard reset 1B F2 03 00.
inline constexpr char reset_not_sent[] = "Could not send hard reset command to printer";

// Data-exchange upload: start, blocks, end. Any answer to the start or the end other than
// "accepted" or "cancelled" counts as none.
inline constexpr char upload_start_not_sent[] =
    "Could not send data exchange upload start request to printer";
inline constexpr char upload_start_none[] =
    "Did not receive data exchange upload start response from printer";
inline constexpr char upload_block_not_sent[] = "Could not send data upload request to printer";
inline constexpr char upload_end_not_sent[] =
    "Could not send data exchange upload end request to printer";
inline constexpr char upload_end_none[] =
    "Did not receive data exchange upload end response from printer";
inline constexpr char upload_cancelled[] = "Data exchange cancelled by printer";

} // namespace failure_text
