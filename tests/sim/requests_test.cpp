// SPDX-License-Identifier: MIT
// The request table: the one list of requests that fault injection, delays,
// call counts, the journal and sim/README.md all name.
#include <xf86drm.h>

#include <cerrno>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "sim_test_support.h"

namespace {

using drmsim_test::Device;
using drmsim_test::SimTest;

struct DocumentedRequest {
    std::string name, counted;
};

// The rows of the README's request table: "| `name` | ... | counted |".
std::vector<DocumentedRequest> documented_requests() {
    std::ifstream in(DRMSIM_README);
    std::string line;
    bool in_section = false;
    std::vector<DocumentedRequest> rows;
    const std::regex row(R"(^\| `([a-z0-9]+)` \|.*\| ([a-z, ]+) \|$)");
    while (std::getline(in, line)) {
        if (line.starts_with("## "))
            in_section = line == "## Requests";
        std::smatch m;
        if (in_section && std::regex_match(line, m, row))
            rows.push_back({m[1], m[2]});
    }
    return rows;
}

TEST(RequestTable, ReadmeListsEveryRequestWithItsCounting) {
    const auto table = drmsim::request_table();
    const auto documented = documented_requests();
    ASSERT_EQ(documented.size(), table.size()) << "sim/README.md's request table has drifted";
    for (size_t i = 0; i < table.size(); ++i) {
        std::string counted = table[i].counted_in_rounds ? "round" : "each";
        if (table[i].journaled)
            counted += ", journaled";
        if (table[i].ignorable)
            counted += ", ignorable";
        EXPECT_EQ(documented[i].name, table[i].name) << "row " << i;
        EXPECT_EQ(documented[i].counted, counted) << table[i].name;
    }
}

// Every request of the table can be failed and delayed by its name; the
// names it lacks cannot.
TEST_F(SimTest, EveryTableRequestCanBeFailedAndDelayed) {
    for (const auto &request : drmsim::request_table()) {
        EXPECT_NO_THROW(drmsim::fail(request.name, 1, EIO)) << request.name;
        EXPECT_NO_THROW(drmsim::delay(request.name, 0)) << request.name;
    }
    EXPECT_THROW(drmsim::fail("ioctl", 1, EIO), std::invalid_argument);
}

// The master requests are in the table like the rest: counted, and failed
// by name as the kernel fails them for a client that may not be master.
TEST_F(SimTest, MasterRequestsAreCountedAndCanFail) {
    Device dev("small-3crtc.json");
    drmsim::fail("setmaster", 2, EACCES);
    EXPECT_EQ(drmSetMaster(dev.fd()), 0);
    EXPECT_EQ(drmSetMaster(dev.fd()), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(drmDropMaster(dev.fd()), 0);
    EXPECT_EQ(drmsim::request_count("setmaster"), 2u);
    EXPECT_EQ(drmsim::request_count("dropmaster"), 1u);
}

// Requests outside the table are answered as the kernel answers an ioctl
// no driver implements.
TEST_F(SimTest, RequestOutsideTheTableIsEinval) {
    Device dev("small-3crtc.json");
    drm_mode_cursor cursor{};
    EXPECT_EQ(drmIoctl(dev.fd(), DRM_IOCTL_MODE_CURSOR, &cursor), -1);
    EXPECT_EQ(errno, EINVAL);
}

} // namespace
