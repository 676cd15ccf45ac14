// models.h - the QEL receipt printers the application drives and the roll media they take.
//
// One entry per USB product of the family (vendor 0x5E2D), the same models as the kit's PPDs
// (Qel_Driver/ppd/qel.drv); a test compares the two. Every model has the same 576-dot head at
// 203 dpi; a roll narrower than 80 mm prints fewer dots.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qel_app
{

inline constexpr unsigned short QEL_USB_VENDOR = 0x5E2D;
inline constexpr int QEL_RESOLUTION_DPI = 203;

struct Model
{
    unsigned short product;  // USB product id
    const char* driver_name; // PAPPL driver name: "qel_0016"
    const char* model_name;  // "Receipt Printer 0016" (the PPD's ModelName)
};

// The eight models in product order.
std::span<const Model> models();
const Model* model_for_driver(std::string_view driver_name);
const Model* model_for_product(unsigned short product);
// The model whose name appears in an IEEE 1284 device ID ("MDL:Receipt Printer 0016;").
const Model* model_for_device_id(std::string_view device_id);
// "QEL Receipt Printer 0016"
std::string make_and_model(const Model& model);

// A roll width the printers take and the dots it prints.
struct Roll
{
    int width_hmm;      // paper width in hundredths of millimetres
    int printable_dots; // dots printed across the roll, centred on the paper
};
std::span<const Roll> rolls();
// The roll of a media width (hundredths of mm) within 1 mm, or nullptr.
const Roll* roll_for_width(int width_hmm);

// Fixed lengths offered for every roll (millimetres), like the PPDs' sizes.
std::span<const int> roll_lengths_mm();
// Custom lengths: from 25 mm up to 10 m.
inline constexpr int ROLL_MIN_LENGTH_MM = 25;
inline constexpr int ROLL_MAX_LENGTH_MM = 10000;

// PWG media name of a roll and length: "om_roll-80_80x297mm", "om_roll-82p5_82.5x200mm".
std::string media_name(const Roll& roll, int length_mm);
// The default medium: the 80 mm roll, 297 mm.
std::string default_media_name();

} // namespace qel_app
