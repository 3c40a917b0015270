#include "sync/net/ReplyPipe.h"

#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/encodedstream.h>

namespace {

// The reader sees every byte in order across pieces of any size, then the end, however far
// it lags behind the receiver.
TEST(ReplyPipeTest, TheReaderSeesEveryByteInOrderThenTheEnd) {
    for (const std::size_t bound : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
        ReplyPipe pipe(bound);
        std::string sent;
        for (int i = 0; i < 3000; ++i) sent += std::to_string(i) + (i % 7 == 0 ? "\n" : ",");
        std::thread receiver([&] {
            for (std::size_t at = 0; at < sent.size();) {
                const std::size_t piece = std::min<std::size_t>(sent.size() - at, 1 + at % 13);
                EXPECT_TRUE(pipe.Give(sent.data() + at, piece));
                at += piece;
            }
            pipe.Close();
        });
        std::string read;
        while (pipe.Peek() != '\0') read += pipe.Take();
        receiver.join();
        EXPECT_EQ(read, sent) << bound;
        EXPECT_EQ(pipe.Tell(), sent.size());
        EXPECT_EQ(pipe.Take(), '\0');
        EXPECT_FALSE(pipe.StoppedEarly());
    }
}

// A reader that stops ends the receiving: a receiver waiting for room, or giving later,
// is told no.
TEST(ReplyPipeTest, AStoppedReaderEndsTheReceiving) {
    ReplyPipe pipe(4);
    ASSERT_TRUE(pipe.Give("[1,2", 4));
    std::thread receiver([&] {
        bool refused = false;
        for (int i = 0; i < 1000 && !refused; ++i) refused = !pipe.Give(",3", 2);
        EXPECT_TRUE(refused);
        pipe.Close();
    });
    EXPECT_EQ(pipe.Take(), '[');
    pipe.StopReading();
    receiver.join();
    EXPECT_TRUE(pipe.StoppedEarly());
    EXPECT_FALSE(pipe.Give("x", 1));
}

// A reader that stops after the end was given did not stop early.
TEST(ReplyPipeTest, StoppingAfterTheEndIsNoEarlyStop) {
    ReplyPipe pipe(64);
    ASSERT_TRUE(pipe.Give("[]", 2));
    pipe.Close();
    rapidjson::EncodedInputStream<rapidjson::UTF8<>, ReplyPipe> in(pipe);
    rapidjson::Document doc;
    doc.ParseStream(in);
    EXPECT_FALSE(doc.HasParseError());
    EXPECT_TRUE(doc.IsArray());
    pipe.StopReading();
    EXPECT_FALSE(pipe.StoppedEarly());
}

}  // namespace
