// models.cpp - the model table and the roll media.
#include "models.h"

#include <array>
#include <cstdio>
#include <cstdlib>

namespace qel_app
{
namespace
{

constexpr std::array<Model, 8> lo_models = {{
    {0x0002, "qel_0002", "Receipt Printer 0002"},
    {0x0010, "qel_0010", "Receipt Printer 0010"},
    {0x0011, "qel_0011", "Receipt Printer 0011"},
    {0x0012, "qel_0012", "Receipt Printer 0012"},
    {0x0013, "qel_0013", "Receipt Printer 0013"},
    {0x0014, "qel_0014", "Receipt Printer 0014"},
    {0x0015, "qel_0015", "Receipt Printer 0015"},
    {0x0016, "qel_0016", "Receipt Printer 0016"},
}};

// 58 mm paper prints 48 mm, 60 mm prints 52 mm, 80 and 82.5 mm the whole 72 mm head.
constexpr std::array<Roll, 4> lo_rolls = {{
    {5800, 384},
    {6000, 416},
    {8000, 576},
    {8250, 576},
}};

constexpr std::array<int, 4> lo_lengths = {100, 150, 200, 297};

std::string lo_width_text(int width_hmm)
{
    char text[32];
    if (width_hmm % 100 == 0)
        std::snprintf(text, sizeof text, "%d", width_hmm / 100);
    else
        std::snprintf(text, sizeof text, "%d.%d", width_hmm / 100, (width_hmm % 100) / 10);
    return text;
}

} // namespace

std::span<const Model> models()
{
    return lo_models;
}

const Model* model_for_driver(std::string_view driver_name)
{
    for (const Model& model : lo_models)
        if (driver_name == model.driver_name)
            return &model;
    return nullptr;
}

const Model* model_for_product(unsigned short product)
{
    for (const Model& model : lo_models)
        if (model.product == product)
            return &model;
    return nullptr;
}

const Model* model_for_device_id(std::string_view device_id)
{
    for (const Model& model : lo_models)
    {
        const std::string key = std::string("MDL:") + model.model_name + ";";
        if (device_id.find(key) != std::string_view::npos)
            return &model;
    }
    return nullptr;
}

std::string make_and_model(const Model& model)
{
    return std::string("QEL ") + model.model_name;
}

std::span<const Roll> rolls()
{
    return lo_rolls;
}

const Roll* roll_for_width(int width_hmm)
{
    for (const Roll& roll : lo_rolls)
        if (std::abs(roll.width_hmm - width_hmm) <= 100)
            return &roll;
    return nullptr;
}

std::span<const int> roll_lengths_mm()
{
    return lo_lengths;
}

std::string media_name(const Roll& roll, int length_mm)
{
    const std::string width = lo_width_text(roll.width_hmm);
    // The name part of a PWG media name takes no '.': the 82.5 mm roll is "roll-82p5".
    std::string name = width;
    for (char& c : name)
        if (c == '.')
            c = 'p';
    return "om_roll-" + name + "_" + width + "x" + std::to_string(length_mm) + "mm";
}

std::string default_media_name()
{
    return media_name(lo_rolls[2], 297);
}

} // namespace qel_app
