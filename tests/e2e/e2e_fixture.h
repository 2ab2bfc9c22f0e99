// A temporary home with an images folder, and the runs of relief_forge in it.
#pragma once

#include "e2e/transcript.h"
#include "support/run_program.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

inline std::string le16(const std::vector<int>& values)
{
    std::string b;
    for (int v : values) {
        const auto u = static_cast<std::uint16_t>(v);
        b.push_back(static_cast<char>(u & 0xFF));
        b.push_back(static_cast<char>(u >> 8));
    }
    return b;
}

inline std::string le32(const std::vector<int>& values)
{
    std::string b;
    for (int v : values) {
        const auto u = static_cast<std::uint32_t>(v);
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<char>((u >> (8 * k)) & 0xFF));
    }
    return b;
}

constexpr int ND = -99999;

class E2e : public ::testing::Test {
  protected:
#ifdef _WIN32
    // The base directory is fixed: each test has a folder of its own in it.
    Temp_dir work{"C:\\images\\"};
    std::string base = "C:\\images\\";
    std::string folder = work.path.substr(base.size());
    std::string dir = base + folder + "\\";
#else
    Temp_dir home;
    std::string base = home.path + "/images/";
    std::string folder = "maps";
    std::string dir = base + folder + "/";
#endif

    std::string path(const std::string& name) const { return dir + name; }

    // Banner, the test's folder, image name and pixel type.
    transcript::Script start(const std::string& image, const std::string& type) const
    {
        transcript::Script s;
        s.show(transcript::banner());
        s.ask(transcript::folder_prompt(base), folder);
        s.ask(transcript::kImage_prompt, image);
        s.ask(transcript::kType_prompt, type);
        return s;
    }

    Program_run run(const std::string& input) const
    {
        Run_options o;
        o.input = input;
        return run(o);
    }

    Program_run run(const Run_options& options) const
    {
        Run_options o = options;
#ifndef _WIN32
        o.home = home.path;
#endif
        return run_program(RF_BINARY, {}, o);
    }

    // Files an earlier run left, which a failed run must not touch.
    void plant_earlier_dem(const std::string& name)
    {
        write_file(path(name + ".raw"), "earlier DEM raster");
        write_file(path(name + ".txt"), "earlier DEM header");
    }
    void expect_earlier_dem(const std::string& name) const
    {
        EXPECT_EQ(read_file(path(name + ".raw")), "earlier DEM raster");
        EXPECT_EQ(read_file(path(name + ".txt")), "earlier DEM header");
    }
    // No temporary file is left in the images folder.
    void expect_no_temporary() const
    {
        for (const std::string& f : list_dir(dir))
            EXPECT_EQ(f.find(".tmp"), std::string::npos) << "left behind: " << f;
    }
};
