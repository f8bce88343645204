#ifndef KESTRN_TESTS_TEMP_DIR_H
#define KESTRN_TESTS_TEMP_DIR_H

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

// A fresh directory per test, removed with everything in it afterwards.
class temp_dir
{
public:
    temp_dir()
    {
        std::random_device seed;
        auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("kestrn-test-" + std::to_string(seed()));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    ~temp_dir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::string operator/(const std::string &name) const { return (path_ / name).string(); }

    std::string write(const std::string &name, const std::string &content = "some data\n") const
    {
        std::string file = *this / name;
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

private:
    std::filesystem::path path_;
};

inline std::string read_file(const std::string &file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#endif
