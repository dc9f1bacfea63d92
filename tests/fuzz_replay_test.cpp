#include "fuzz/targets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

// Every committed input of the fuzz targets, and every hostile BMP and OBJ file, goes through
// the fuzz entry functions once: the fuzzers' findings stay fixed without clang. The hostile
// OBJ files are prepared here, short of OpenGL, and nowhere else all of them. The hostile
// scene files are left to HostileScene, which checks each one's error lines exactly.

namespace {

namespace fs = std::filesystem;

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file())
            files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct replaySet {
    const char* dir;
    std::string (*run)(const uint8_t*, size_t);
};

void replay(const replaySet& set)
{
    std::vector<std::string> files = filesIn(set.dir);
    ASSERT_FALSE(files.empty()) << set.dir;
    for (const std::string& file : files) {
        std::vector<uint8_t> bytes = bytesOf(file);
        EXPECT_EQ(set.run(bytes.data(), bytes.size()), "") << file;
    }
}

} // namespace

TEST(FuzzReplay, ImageCorpus) { replay({FUZZ_CORPUS_DIR "/image", imageInput}); }
TEST(FuzzReplay, ObjCorpus) { replay({FUZZ_CORPUS_DIR "/obj", objInput}); }
TEST(FuzzReplay, SceneCorpus) { replay({FUZZ_CORPUS_DIR "/scene", sceneInput}); }
TEST(FuzzReplay, HostileBmpFiles) { replay({HOSTILE_DIR "/bmp", imageInput}); }
TEST(FuzzReplay, HostileObjFiles) { replay({HOSTILE_DIR "/obj", objInput}); }

namespace {

// A few thousand fixed, seeded variations of each corpus file: bits flipped, bytes changed,
// inserted and dropped, the end cut off. The same every run.
void replayMutations(const replaySet& set, int perFile)
{
    std::mt19937 random(20240607);
    for (const std::string& file : filesIn(set.dir)) {
        const std::vector<uint8_t> original = bytesOf(file);
        for (int i = 0; i < perFile; ++i) {
            std::vector<uint8_t> bytes = original;
            int edits = 1 + static_cast<int>(random() % 4);
            for (int e = 0; e < edits; ++e) {
                size_t at = bytes.empty() ? 0 : random() % bytes.size();
                switch (random() % 5) {
                case 0:
                    if (!bytes.empty())
                        bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
                    break;
                case 1:
                    if (!bytes.empty())
                        bytes[at] = static_cast<uint8_t>(random());
                    break;
                case 2:
                    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                 static_cast<uint8_t>(random()));
                    break;
                case 3:
                    if (!bytes.empty())
                        bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
                    break;
                default:
                    bytes.resize(at);
                    break;
                }
            }
            std::string problem = set.run(bytes.data(), bytes.size());
            ASSERT_EQ(problem, "") << file << ", variation " << i;
        }
    }
}

} // namespace

TEST(FuzzReplay, ImageSeededVariations) { replayMutations({FUZZ_CORPUS_DIR "/image", imageInput}, 400); }
TEST(FuzzReplay, ObjSeededVariations) { replayMutations({FUZZ_CORPUS_DIR "/obj", objInput}, 200); }
TEST(FuzzReplay, SceneSeededVariations) { replayMutations({FUZZ_CORPUS_DIR "/scene", sceneInput}, 400); }
