// The conversion job in steps (the page's workers): blocks coded in any order
// without the pivot state, the refused ones coded with it in order, and the
// frames assembled in order give the job's own document.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "compressor/block_compressor.h"
#include "compressor/pivot_generator.h"
#include "shell/conversion_job.h"
#include "shell/conversion_steps.h"
#include "support/job_support.h"
#include "support/test_support.h"

namespace dls2mml::test {
namespace {

using Frame = std::optional<Bytes>; // none: refused, the block needs the state

Frame codeBlock(BlockCoder& coder, const Bytes& input, std::size_t block, bool withState)
{
    const std::size_t at = block * blockSliceBytes();
    const std::size_t n = std::min(blockSliceBytes(), input.size() - at);
    std::copy_n(input.begin() + static_cast<std::ptrdiff_t>(at), n, coder.slice().begin());
    if (coder.code(n, withState) == 0) {
        EXPECT_EQ(coder.failure(), FaultKind::inputChanged) << "block " << block;
        return std::nullopt;
    }
    return Bytes(coder.frame().begin(), coder.frame().end());
}

TEST(ConversionSteps, BlocksCodedInAnyOrderAssembleTheJobsDocument)
{
    const Bytes periodic = repeat("aaabaabb", 65536); // one whole block with equal rotations
    struct Case {
        const char* name;
        Bytes input;
        std::size_t refused; // blocks that need the state
    } cases[] = {
        {"empty", {}, 0},
        {"three bytes", text("abc"), 0},
        {"three blocks, all distinct", TestRng(5).bytes(2 * 524288 + 1000, 16), 0},
        {"a state block between distinct ones",
         concat({TestRng(7).bytes(2 * 524288), periodic, TestRng(8).bytes(300000)}), 1},
        {"the state block last", concat({TestRng(9).bytes(524288), periodic}), 1},
    };
    TempFolder dir;
    const std::uint32_t saved = pivotGenerator.state();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("in.dls"), c.input);
        pivotGenerator.setState(7919);
        const JobReport job = convert(dir.file("in.dls"), dir.file("job.mml"));
        ASSERT_TRUE(job.ok()) << job.fault.words;

        // Every block without the state, last first, as the workers may finish them.
        BlockCoder coder;
        ASSERT_TRUE(coder.ready());
        const std::size_t blocks = (c.input.size() + blockSliceBytes() - 1) / blockSliceBytes();
        std::vector<Frame> frames(blocks);
        for (std::size_t block = blocks; block-- > 0;)
            frames[block] = codeBlock(coder, c.input, block, false);
        EXPECT_EQ(static_cast<std::size_t>(std::count(frames.begin(), frames.end(), std::nullopt)), c.refused);

        // In order with the state up to the last refused block: a distinct
        // block's frame does not depend on the draws.
        pivotGenerator.setState(7919);
        const auto last = std::find(frames.rbegin(), frames.rend(), std::nullopt);
        const std::size_t ordered = static_cast<std::size_t>(frames.rend() - last);
        for (std::size_t block = 0; block < ordered; ++block) {
            const Frame drawn = codeBlock(coder, c.input, block, true);
            ASSERT_TRUE(drawn.has_value());
            if (frames[block]) {
                EXPECT_EQ(*frames[block], *drawn) << "block " << block;
            }
            frames[block] = drawn;
        }

        DocumentAssembly assembly;
        JobRequest request;
        request.path = dir.file("in.dls");
        request.outputPath = dir.file("steps.mml");
        ASSERT_TRUE(assembly.start(request, c.input.size()).ok());
        for (std::size_t block = 0; block < blocks; ++block)
            ASSERT_TRUE(assembly.addFrame(*frames[block],
                                          std::min(blockSliceBytes(), c.input.size() - block * blockSliceBytes())));
        const JobReport steps = assembly.finish();
        ASSERT_TRUE(steps.ok()) << steps.fault.words;
        EXPECT_EQ(steps.inputBytes, job.inputBytes);
        EXPECT_EQ(steps.streamBytes, job.streamBytes);
        EXPECT_EQ(steps.documentBytes, job.documentBytes);
        EXPECT_TRUE(readFile(dir.file("steps.mml")) == readFile(dir.file("job.mml"))) << "documents differ";
    }
    pivotGenerator.setState(saved);
}

TEST(ConversionSteps, AnAbandonedDocumentLeavesTheEarlierOne)
{
    TempFolder dir;
    writeFile(dir.file("steps.mml"), text("earlier"));
    DocumentAssembly assembly;
    JobRequest request;
    request.path = dir.file("in.dls");
    request.outputPath = dir.file("steps.mml");
    ASSERT_TRUE(assembly.start(request, 3).ok());
    const JobReport report = assembly.abandon(FaultKind::pivotStateUnknown, "in.dls changed since it was converted");
    EXPECT_EQ(report.fault.kind, FaultKind::pivotStateUnknown);
    EXPECT_NE(report.fault.words.find("in.dls changed since it was converted"), std::string::npos) << report.fault.words;
    EXPECT_EQ(readFile(dir.file("steps.mml")), "earlier");
}

} // namespace
} // namespace dls2mml::test
