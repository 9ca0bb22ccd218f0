// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The queue of audio blocks between two threads: a consumer that gives up frees a producer that
// waits for room, and closing hands out what was queued before it ends.
#include "components/audio/BlockQueue.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using quillory::renderer::AudioBlock;
using quillory::renderer::BlockQueue;

TEST(ConvertStreaming, ABlockedProducerIsReleasedWhenTheConsumerGivesUp) {
    BlockQueue queue(2);
    std::atomic<int> pushed{0};
    std::thread producer([&] {
        while (queue.push(AudioBlock{std::vector<float>(8), 4}))
            ++pushed;
    });
    // Two blocks fill the queue; the producer then waits for room that never comes.
    while (pushed < 2)
        std::this_thread::yield();
    queue.abandon();
    producer.join(); // hangs if abandon leaves the producer waiting for room
    EXPECT_EQ(pushed, 2);
    AudioBlock block;
    EXPECT_FALSE(queue.pop(block)) << "an abandoned queue hands out nothing more";
}

TEST(ConvertStreaming, ClosingStillDeliversWhatIsQueued) {
    BlockQueue queue(4);
    ASSERT_TRUE(queue.push(AudioBlock{std::vector<float>(2), 1}));
    ASSERT_TRUE(queue.push(AudioBlock{std::vector<float>(4), 2}));
    queue.close();
    EXPECT_FALSE(queue.push(AudioBlock{std::vector<float>(2), 1}));
    AudioBlock block;
    ASSERT_TRUE(queue.pop(block));
    EXPECT_EQ(block.frames, 1u);
    ASSERT_TRUE(queue.pop(block));
    EXPECT_EQ(block.frames, 2u);
    EXPECT_FALSE(queue.pop(block));
}
