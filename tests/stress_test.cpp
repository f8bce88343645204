// The tool under contention: other processes opening, rewriting and
// probing the same file while it probes. Every run must answer with one of
// the two verdicts, none may hang or die, and nobody else may be hurt.
// Bounded: a fixed number of runs each.
#include "support/process.h"
#include "support/temp_dir.h"
#include "support/texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

namespace
{

#ifdef _WIN32
const int runs = 40; // each run starts a Wine process
const char *const churn_modes[] = {"churn"};
#else
const int runs = 200;
const char *const churn_modes[] = {"churn", "churn-nonblock"};
#endif

// "key=value" out of a holder's report; -1 when missing.
long long value_of(const std::string &report, const std::string &key)
{
    size_t at = report.find(key + "=");
    return at == std::string::npos ? -1 : std::stoll(report.substr(at + key.size() + 1));
}

class stress : public ::testing::Test
{
protected:
    run_result probe(const std::string &file) { return run_program({tool_program(), file}); }
    temp_dir dir;
};

TEST_F(stress, racing_an_opener)
{
    for (const char *mode : churn_modes) {
        std::string file = dir.write(std::string(mode) + ".txt");
        holder opener({holder_program(), mode, file});
        ASSERT_TRUE(opener.ready()) << mode;
        int free_runs = 0;
        for (int i = 0; i < runs; ++i) {
            run_result r = probe(file);
            ASSERT_TRUE(is_verdict(r)) << mode << " run " << i << ": exit " << r.exit_code;
            free_runs += r.exit_code == 0;
        }
        std::string report = opener.release();
        std::printf("%s: %d runs, %d free; opener: %s", mode, runs, free_runs, report.c_str());
        EXPECT_EQ(value_of(report, "failures"), 0) << report;
        EXPECT_GT(value_of(report, "opens"), 0) << report;
        // A blocking opener waits at most for the lease to be let go.
        if (value_of(report, "max_wait_us") >= 0) {
            EXPECT_LT(value_of(report, "max_wait_us"), 250000) << report;
        }
    }
}

TEST_F(stress, copies_probing_one_file_at_once)
{
    const int copies = 6;
    std::string file = dir.write("shared.txt");
    for (int round = 0; round < runs / copies; ++round) {
        std::vector<run_result> results(copies);
        std::vector<std::thread> threads;
        for (auto &result : results)
            threads.emplace_back([&] { result = probe(file); });
        for (auto &t : threads)
            t.join();
        for (const auto &r : results) {
            EXPECT_FALSE(r.timed_out);
            EXPECT_TRUE(is_verdict(r)) << "round " << round << ": exit " << r.exit_code;
        }
    }
    run_result after = probe(file);
    EXPECT_EQ(after.out, free_text) << "a copy left the file held";
}

#ifndef _WIN32
TEST_F(stress, file_replaced_truncated_and_recreated_while_probed)
{
    std::string file = dir.write("rotating.log", "generation 0\n");
    holder writer({holder_program(), "rewrite", file});
    ASSERT_TRUE(writer.ready());
    int missing = 0;
    for (int i = 0; i < runs; ++i) {
        run_result r = probe(file);
        ASSERT_TRUE(is_verdict(r)) << "run " << i << ": exit " << r.exit_code;
        missing += r.exit_code == 1;
    }
    std::string report = writer.release();
    std::printf("%d runs, %d not free; writer: %s", runs, missing, report.c_str());
    EXPECT_EQ(value_of(report, "failures"), 0) << report;
    EXPECT_EQ(read_file(file),
              "generation " + std::to_string(value_of(report, "generation")) + "\n");
}
#endif

} // namespace
