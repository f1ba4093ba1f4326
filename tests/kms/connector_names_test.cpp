#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connector_names.h"

namespace {

using kms_detail::connector_type_name;
using kms_detail::ScreenNamer;

TEST(ConnectorTypeName, KnownTypesUseTheirTableName) {
    const struct {
        uint32_t type;
        const char *name;
    } cases[] = {
        {0, "Unknown"},  {1, "VGA"},         {2, "DVI-I"},       {3, "DVI-D"},  {4, "DVI-A"},
        {5, "Composite"}, {6, "SVIDEO"},     {7, "LVDS"},        {8, "Component"},
        {9, "9PinDIN"},  {10, "DisplayPort"}, {11, "HDMI-A"},    {12, "HDMI-B"}, {13, "TV"},
        {14, "eDP"},     {15, "Virtual"},     {16, "DSI"},
        // Beyond the classic table: the names libdrm gives the later kernel types.
        {17, "DPI"},     {18, "Writeback"},   {19, "SPI"},       {20, "USB"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(connector_type_name(c.type), c.name) << "type " << c.type;
}

TEST(ConnectorTypeName, UnnamedTypesAreUnknown) {
    for (const uint32_t type : {21u, 100u, 0xFFFFFFFFu})
        EXPECT_EQ(connector_type_name(type), "Unknown") << "type " << type;
}

// Names handed out for a sequence of connector types, as enumeration does.
std::vector<std::string> name_all(const std::vector<uint32_t> &types) {
    ScreenNamer namer;
    std::vector<std::string> names;
    for (const uint32_t type : types) {
        names.push_back(namer.peek(type));
        namer.advance(type);
    }
    return names;
}

TEST(ScreenNamer, NumbersEachTypeFromZero) {
    const struct {
        std::vector<uint32_t> types;
        std::vector<std::string> names;
    } cases[] = {
        {{11, 11, 10}, {"HDMI-A-0", "HDMI-A-1", "DisplayPort-0"}},
        {{10, 11, 10, 11}, {"DisplayPort-0", "HDMI-A-0", "DisplayPort-1", "HDMI-A-1"}},
        {{14}, {"eDP-0"}},
        {{17, 17, 20}, {"DPI-0", "DPI-1", "USB-0"}},
        // Types without a name share the "Unknown" numbering, so names stay unique.
        {{0, 99, 0, 1234}, {"Unknown-0", "Unknown-1", "Unknown-2", "Unknown-3"}},
        {{}, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(name_all(c.types), c.names);
}

TEST(ScreenNamer, PeekDoesNotConsumeANumber) {
    ScreenNamer namer;
    EXPECT_EQ(namer.peek(11), "HDMI-A-0");
    EXPECT_EQ(namer.peek(11), "HDMI-A-0");
    namer.advance(11);
    EXPECT_EQ(namer.peek(11), "HDMI-A-1");
    EXPECT_EQ(namer.peek(10), "DisplayPort-0");
}

} // namespace
