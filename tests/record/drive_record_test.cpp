// The drive record: what the recorder keeps from a drive's steps, the section written and read
// back, data files of today's keys alone, and damaged files refused with the line named.
#include "record/drive_record.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace drive_record;

namespace {

const char* const kSummary = "user=alice\nstate=WI\norganization=Clinic\ndata-id=7\n"
                             "world=Park\nstart=2026-12-07T10:00:00Z\nend=2026-12-07T10:00:30Z\n"
                             "duration=30\ndistance=12.50\ncollisions=1\nlandmarks=2\n"
                             "landmark=Fountain\nlandmark=Gate\nothers=1\nother=bob\n";

} // namespace

TEST(DriveRecord, TheRecorderSamplesTenTimesASecondOfDriveTime) {
    Recorder recorder;
    // Three seconds of steps at 30 a second, driving east at 1.5 m/s.
    const double dt = 1.0 / 30.0;
    for (int i = 0; i <= 90; ++i)
        recorder.Step(i * dt, 1.5 * i * dt, 2.0, 0.0, 1.0, 0.0);
    Record record = recorder.Finish();
    ASSERT_EQ(record.samples.size(), 31u); // 0.0, 0.1, ... 3.0
    for (std::size_t i = 1; i < record.samples.size(); ++i)
        EXPECT_NEAR(record.samples[i].time - record.samples[i - 1].time, 0.1, 1e-9) << i;
    EXPECT_NEAR(record.samples.back().speed, 1.5, 1e-9);
    EXPECT_NEAR(record.samples.back().x, 4.5, 1e-9);
    EXPECT_DOUBLE_EQ(record.samples.back().forward, 1.0);
}

TEST(DriveRecord, TheLastStateIsKeptWhenItFallsBetweenSamples) {
    Recorder recorder;
    recorder.Step(0.05, 0, 0, 0, 0, 0);
    recorder.Step(0.07, 1, 0, 0, 0, 0);
    Record record = recorder.Finish();
    ASSERT_EQ(record.samples.size(), 2u);
    EXPECT_DOUBLE_EQ(record.samples[1].x, 1.0);
}

TEST(DriveRecord, ASectionWrittenReadsBackInItsUnits) {
    Record record;
    record.samples.push_back({0.0, 1.234, 5.678, 359.94, 1.5, 1.0, -0.5});
    record.samples.push_back({0.1, -2.0, 3.0, 90.0, 0.0, -1.0, 1.0});
    record.hits.push_back({12.3, 4.5, 6.7, "wall 3"});
    record.reaches.push_back({20.0, "Big fountain"});
    std::string text = std::string(kSummary) + FormatRecord(record);
    EXPECT_NE(text.find("\nrecord=1\nsamples=2\ns=0 123 568 3599 150 100 -50\n"), std::string::npos)
        << text;
    DataFile file;
    std::string error;
    ASSERT_TRUE(ParseDataFile(text, file, error)) << error;
    EXPECT_EQ(file.recordVersion, 1);
    EXPECT_EQ(file.summary.user, "alice");
    EXPECT_EQ(file.summary.world, "Park");
    EXPECT_EQ(file.summary.startTime, 1796637600);
    EXPECT_EQ(file.summary.endTime - file.summary.startTime, 30);
    EXPECT_EQ(file.summary.duration, 30);
    EXPECT_DOUBLE_EQ(file.summary.distance, 12.5);
    EXPECT_EQ(file.summary.collisions, 1);
    EXPECT_EQ(file.summary.landmarks, (std::vector<std::string>{"Fountain", "Gate"}));
    EXPECT_EQ(file.summary.others, std::vector<std::string>{"bob"});
    ASSERT_EQ(file.record.samples.size(), 2u);
    EXPECT_NEAR(file.record.samples[0].x, 1.23, 1e-9);
    EXPECT_NEAR(file.record.samples[0].heading, 359.9, 1e-9);
    EXPECT_NEAR(file.record.samples[0].turn, -0.5, 1e-9);
    EXPECT_NEAR(file.record.samples[1].x, -2.0, 1e-9);
    ASSERT_EQ(file.record.hits.size(), 1u);
    EXPECT_EQ(file.record.hits[0].what, "wall 3");
    EXPECT_NEAR(file.record.hits[0].time, 12.3, 1e-9);
    ASSERT_EQ(file.record.reaches.size(), 1u);
    EXPECT_EQ(file.record.reaches[0].landmark, "Big fountain");
}

TEST(DriveRecord, ADataFileOfTodaysKeysAloneReadsWithoutARecord) {
    DataFile file;
    std::string error;
    ASSERT_TRUE(ParseDataFile(kSummary, file, error)) << error;
    EXPECT_EQ(file.recordVersion, 0);
    EXPECT_TRUE(file.record.samples.empty());
}

TEST(DriveRecord, ALaterVersionKeepsTheSummaryAndSkipsTheSection) {
    DataFile file;
    std::string error;
    ASSERT_TRUE(
        ParseDataFile(std::string(kSummary) + "record=2\nsamples=1\nq=new kind\n", file, error))
        << error;
    EXPECT_EQ(file.recordVersion, 2);
    EXPECT_EQ(file.summary.user, "alice");
    EXPECT_TRUE(file.record.samples.empty());
}

TEST(DriveRecord, DamagedFilesAreRefusedNamingTheLine) {
    DataFile file;
    std::string error;
    EXPECT_FALSE(ParseDataFile("\x01\x02 binary", file, error));
    EXPECT_EQ(error, "line 1: not a key=value line");
    EXPECT_FALSE(
        ParseDataFile(std::string(kSummary) + "record=1\nsamples=1\ns=1 2 3\n", file, error));
    EXPECT_EQ(error, "line 18: a sample needs seven whole numbers");
    // Cut short in the middle of the samples.
    EXPECT_FALSE(ParseDataFile(std::string(kSummary) + "record=1\nsamples=3\ns=0 0 0 0 0 0 0\n",
                               file, error));
    EXPECT_NE(error.find("cut short"), std::string::npos);
    EXPECT_FALSE(ParseDataFile("world=Park\nstart=2026-12-07T10:00:00Z\n", file, error));
    EXPECT_FALSE(ParseDataFile("user=a\nworld=P\nstart=yesterday\n", file, error));
    EXPECT_EQ(error, "line 3: the start is not a UTC time");
}

TEST(DriveRecord, ThirtyMinutesStayWellUnderAMegabyte) {
    Recorder recorder;
    const double dt = 1.0 / 30.0;
    for (int i = 0; i <= 30 * 60 * 30; ++i) {
        double t = i * dt;
        recorder.Step(t, 25 + 20 * std::cos(t / 7), 25 + 20 * std::sin(t / 5),
                      std::fmod(t * 9, 360), 0.8, -0.3);
    }
    Record record = recorder.Finish();
    EXPECT_EQ(record.samples.size(), 18001u);
    std::string text = FormatRecord(record);
    EXPECT_LT(text.size(), 700u * 1024) << text.size();
}
