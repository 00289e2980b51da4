// A scratch home for tests that touch the per-user store or the current
// directory: XDG_CONFIG_HOME and the working directory point into a fresh
// temporary tree for the length of each test.
#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

inline std::string ReadWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every value of the store file as "group/name=value" lines, values as
// stored (escaped); "<unparseable>" when GKeyFile cannot read the file.
inline std::string DumpStore(const std::filesystem::path& file) {
    GKeyFile* keys = g_key_file_new();
    if (!g_key_file_load_from_file(keys, file.c_str(), G_KEY_FILE_NONE, nullptr)) {
        g_key_file_free(keys);
        return "<unparseable>";
    }
    std::string out;
    gchar** groups = g_key_file_get_groups(keys, nullptr);
    for (gchar** group = groups; *group; ++group) {
        gchar** names = g_key_file_get_keys(keys, *group, nullptr, nullptr);
        for (gchar** name = names; *name; ++name) {
            gchar* value = g_key_file_get_value(keys, *group, *name, nullptr);
            out.append(*group).append("/").append(*name).append("=").append(value).append("\n");
            g_free(value);
        }
        g_strfreev(names);
    }
    g_strfreev(groups);
    g_key_file_free(keys);
    return out;
}

inline void WriteWhole(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

class ScratchStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "kaleidra-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        configHome_ = root_ / "config";
        workDir_ = root_ / "work";
        std::filesystem::create_directories(workDir_);
        savedDir_ = std::filesystem::current_path();
        if (const char* old = getenv("XDG_CONFIG_HOME")) savedConfig_ = old;
        setenv("XDG_CONFIG_HOME", configHome_.c_str(), 1);
        std::filesystem::current_path(workDir_);
    }

    void TearDown() override {
        std::filesystem::current_path(savedDir_);
        if (savedConfig_) {
            setenv("XDG_CONFIG_HOME", savedConfig_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        std::filesystem::remove_all(root_);
    }

    std::filesystem::path StoreDir() const { return configHome_ / "kaleidra"; }
    std::filesystem::path StoreFile() const { return StoreDir() / "registry.ini"; }
    const std::filesystem::path& WorkDir() const { return workDir_; }

private:
    std::filesystem::path root_, configHome_, workDir_, savedDir_;
    std::optional<std::string> savedConfig_;
};
