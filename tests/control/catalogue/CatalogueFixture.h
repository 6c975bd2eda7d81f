// A temporary folder with catalogues built by the catalogue tool's library, and helpers to open them
// the way the control does.
#pragma once

#include "CatalogueBuilder.h"
#include "catalogue/Dao.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdlib.h>

namespace calmora::testing {

inline constexpr const char* Connect = ";PWD=Mira6tocaPQ;";

// Opens a catalogue as the control does: workspace 0, read-only, the catalogue password.
inline std::shared_ptr<dao::Database> OpenCatalogue(const std::string& path, bool exclusive = true,
                                                    const std::string& connect = Connect) {
    return dao::DBEngine::Get().Workspaces(0).OpenDatabase(path, exclusive, true, connect);
}

class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "calmora-catalogue-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Build(const std::string& manifest, const std::string& name = "REZozi.mdb",
                      const std::string& password = catalogue::DefaultPassword) {
        const std::string path = (dir_ / name).string();
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        catalogue::BuildCatalogue(manifest, path, password);
        return path;
    }

    static std::shared_ptr<dao::Database> Open(const std::string& path, bool exclusive = true,
                                               const std::string& connect = Connect) {
        return OpenCatalogue(path, exclusive, connect);
    }

    static void WriteFile(const std::filesystem::path& p, const std::string& content) {
        std::ofstream(p, std::ios::binary) << content;
    }
    static std::string ReadFile(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path dir_;
};

// The error number a call raises, 0 when it succeeds.
template <typename F>
int ErrorOf(F&& f) {
    try {
        f();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

}  // namespace calmora::testing
