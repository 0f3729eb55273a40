// The record library through its C interface, on files written here by hand
// (bytes worked out from the format rules) and on the published WFDB records.
#include "records/hsim_records.h"

#include <edflib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::string;
const double kNaN = std::nan("");

class Records : public ::testing::Test {
protected:
    void SetUp() override
    {
        char templ[] = "/tmp/hsim-records-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        dir = templ;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Write(const std::string& name, const Bytes& bytes)
    {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    }
    fs::path dir;
};

struct Closer {
    void operator()(HSIMRecord* r) const { HSIMRecordClose(r); }
};
using RecordPtr = std::unique_ptr<HSIMRecord, Closer>;

RecordPtr Open(const std::string& path, int kind = HSIM_RECORD_AUTO)
{
    HSIMRecord* r = nullptr;
    const int rc = HSIMRecordOpen(path.c_str(), kind, &r);
    EXPECT_EQ(rc, HSIM_RECORD_OK) << path << ": " << HSIMRecordLastError();
    return RecordPtr(r);
}

std::vector<double> ReadAll(HSIMRecord* r, int index)
{
    HSIMRecordSignal info{};
    EXPECT_EQ(HSIMRecordGetSignal(r, index, &info), HSIM_RECORD_OK);
    std::vector<double> v(static_cast<size_t>(info.length));
    EXPECT_EQ(HSIMRecordReadMv(r, index, 0, info.length, v.data()), info.length);
    return v;
}

void ExpectValues(const std::vector<double>& got, const std::vector<double>& want, double tolerance = 1e-12)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        if (std::isnan(want[i]))
            EXPECT_TRUE(std::isnan(got[i])) << "sample " << i;
        else
            EXPECT_NEAR(got[i], want[i], tolerance) << "sample " << i;
    }
}

TEST_F(Records, StandardRecordsMatchAPlainDecoding)
{
    const fs::path data = HSIM_RECORDS_STANDARD_DIR;
    if (!fs::exists(data / "RECORDS"))
        GTEST_SKIP() << "no standard records in " << data;
    std::ifstream list(data / "RECORDS");
    std::string name;
    int records = 0;
    while (list >> name) {
        SCOPED_TRACE(name);
        // Line 1: name, signals, rate, samples; line 2: file, format, gain[(baseline)][/units], res, zero.
        std::ifstream hea(data / (name + ".hea"));
        std::string recName, file, gainField;
        int nsig = 0, format = 0, res = 0, zero = 0;
        double rate = 0.0;
        int64_t nsamp = 0;
        hea >> recName >> nsig >> rate >> nsamp >> file >> format >> gainField >> res >> zero;
        ASSERT_EQ(nsig, 1);
        ASSERT_EQ(format, 16);
        const double gain = std::stod(gainField);
        const size_t paren = gainField.find('(');
        const double baseline = paren == std::string::npos ? zero : std::stod(gainField.substr(paren + 1));
        const double unitScale = gainField.find("/uV") != std::string::npos ? 1e-3 : 1.0;
        std::ifstream dat(data / file, std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(dat)), std::istreambuf_iterator<char>());
        ASSERT_GE(bytes.size(), static_cast<size_t>(2 * nsamp));
        std::vector<double> want;
        for (int64_t i = 0; i < nsamp; ++i) {
            const auto lo = static_cast<uint8_t>(bytes[2 * i]), hi = static_cast<uint8_t>(bytes[2 * i + 1]);
            const int adc = static_cast<int16_t>(lo | hi << 8);
            want.push_back(adc == -32768 ? kNaN : (adc - baseline) / gain * unitScale);
        }
        RecordPtr r = Open((data / name).string());
        ASSERT_TRUE(r);
        HSIMRecordSignal info{};
        ASSERT_EQ(HSIMRecordGetSignal(r.get(), 0, &info), HSIM_RECORD_OK);
        EXPECT_EQ(info.rate, rate);
        EXPECT_EQ(info.length, nsamp);
        ExpectValues(ReadAll(r.get(), 0), want, 0.0);
        ++records;
    }
    EXPECT_EQ(records, 10);
}

// Frames (s0, s1): (100, -2047), (-1, 0), (2047, -300), (-2048 invalid, 5), packed in
// 12-bit pairs: byte 0 = low 8 bits of the first, byte 1 = high nibbles (second's on top),
// byte 2 = low 8 bits of the second.
TEST_F(Records, Format212TwoSignalsByAnyPathForm)
{
    Write("r212.hea", "# two leads\nr212 2 360/1000(0) 4\n"
                      "r212.dat 212 200(10)/mV 12 0 0 0 0 lead I\n"
                      "r212.dat 212 100/uV 12 0 0 0 0 lead II\n");
    Write("r212.dat", Bytes("\x64\x80\x01" "\xff\x0f\x00" "\xff\xe7\xd4" "\x00\x08\x05", 12));
    for (const char* form : {"r212.hea", "r212.dat", "r212"}) {
        SCOPED_TRACE(form);
        RecordPtr r = Open((dir / form).string());
        ASSERT_TRUE(r);
        EXPECT_EQ(HSIMRecordKindOf(r.get()), HSIM_RECORD_WFDB);
        ASSERT_EQ(HSIMRecordSignalCount(r.get()), 2);
        HSIMRecordSignal info{};
        ASSERT_EQ(HSIMRecordGetSignal(r.get(), 1, &info), HSIM_RECORD_OK);
        EXPECT_STREQ(info.name, "lead II");
        EXPECT_STREQ(info.units, "uV");
        EXPECT_EQ(info.rate, 360.0);
        ExpectValues(ReadAll(r.get(), 0), {90 / 200.0, -11 / 200.0, 2037 / 200.0, kNaN});
        ExpectValues(ReadAll(r.get(), 1), {-0.02047, 0.0, -0.003, 0.00005});
        double tail[4] = {};
        EXPECT_EQ(HSIMRecordReadMv(r.get(), 1, 2, 4, tail), 2);  // fewer at the end
        EXPECT_NEAR(tail[1], 0.00005, 1e-12);
    }
}

// Two signals interleaved in a.dat, a third in b.dat after 4 bytes; the
// length comes from the files (the header says 0).
TEST_F(Records, Format16TwoFilesWithByteOffset)
{
    Write("two.hea", "two 3 500 0\na.dat 16 1000/mV 16 0 0 0 0 I\na.dat 16 1000(0)/mV 16 5 0 0 0 II\n"
                     "b.dat 16+4 2000/V 16 0 0 0 0 III\n");
    Write("a.dat", Bytes("\x01\x00\x00\x80\xfe\xff\x07\x00\x2c\x01\xf9\xff", 12));
    Write("b.dat", Bytes("JUNK\xe8\x03\x18\xfc\x00\x00", 10));
    RecordPtr r = Open((dir / "two.hea").string(), HSIM_RECORD_WFDB);
    ASSERT_TRUE(r);
    ASSERT_EQ(HSIMRecordSignalCount(r.get()), 3);
    ExpectValues(ReadAll(r.get(), 0), {0.001, -0.002, 0.3});
    ExpectValues(ReadAll(r.get(), 1), {kNaN, 0.007, -0.007});
    ExpectValues(ReadAll(r.get(), 2), {500.0, -500.0, 0.0});
}

TEST_F(Records, EdfWrittenByEdflibReadsBackInMillivolts)
{
    const std::string path = (dir / "two.edf").string();
    const int h = edfopen_file_writeonly(path.c_str(), EDFLIB_FILETYPE_EDFPLUS, 2);
    ASSERT_GE(h, 0);
    const char* units[2] = {"uV", "mV"};
    const double range[2] = {3000.0, 5.0};  // exact in the header's 8 characters
    const int digital[2] = {30000, 2047};
    for (int s = 0; s < 2; ++s) {
        ASSERT_EQ(edf_set_samplefrequency(h, s, 200), 0);
        ASSERT_EQ(edf_set_physical_maximum(h, s, range[s]), 0);
        ASSERT_EQ(edf_set_physical_minimum(h, s, -range[s]), 0);
        ASSERT_EQ(edf_set_digital_maximum(h, s, digital[s]), 0);
        ASSERT_EQ(edf_set_digital_minimum(h, s, -digital[s]), 0);
        ASSERT_EQ(edf_set_physical_dimension(h, s, units[s]), 0);
        ASSERT_EQ(edf_set_label(h, s, s == 0 ? "ECG uV" : "ECG mV"), 0);
    }
    // Digital values written; the EDF rule maps them linearly onto the physical range.
    std::vector<double> want[2];
    for (int rec = 0; rec < 3; ++rec)
        for (int s = 0; s < 2; ++s) {
            std::vector<int> block(200);
            for (int i = 0; i < 200; ++i) {
                block[i] = static_cast<int>(std::lround((s == 0 ? 15000 : 1500) * std::sin(0.05 * (rec * 200 + i))));
                const double physical = -range[s] + (block[i] + digital[s]) * (2 * range[s]) / (2 * digital[s]);
                want[s].push_back(s == 0 ? physical / 1000 : physical);
            }
            ASSERT_EQ(edfwrite_digital_samples(h, block.data()), 0);
        }
    ASSERT_EQ(edfclose_file(h), 0);

    RecordPtr r = Open(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(HSIMRecordKindOf(r.get()), HSIM_RECORD_EDF);
    ASSERT_EQ(HSIMRecordSignalCount(r.get()), 2);  // the annotation signal left out
    HSIMRecordSignal info{};
    ASSERT_EQ(HSIMRecordGetSignal(r.get(), 0, &info), HSIM_RECORD_OK);
    EXPECT_STREQ(info.units, "uV");
    EXPECT_EQ(info.rate, 200.0);
    EXPECT_EQ(info.length, 600);
    ExpectValues(ReadAll(r.get(), 0), want[0], 1e-9);
    ExpectValues(ReadAll(r.get(), 1), want[1], 1e-9);
}

TEST_F(Records, BadFilesGetTheirCodes)
{
    const Bytes hea1 = "r 1 360 3\n";
    const Bytes six(6, '\0');
    struct Case {
        const char* what;
        std::map<std::string, Bytes> files;
        std::string open;
        int code;
        const char* inMessage;
    } cases[] = {
        {"signal count", {{"r.hea", "r 2 360 3\nr.dat 16 200 16 0 0 0 0 x\n"}, {"r.dat", Bytes(12, '\0')}}, "r.hea",
         HSIM_RECORD_ERROR_HEADER, "r.hea line 1"},
        {"missing dat", {{"r.hea", hea1 + "r.dat 16 200 16 0 0 0 0 x\n"}}, "r.hea", HSIM_RECORD_ERROR_OPEN, "r.dat"},
        {"format 8", {{"r.hea", hea1 + "r.dat 8 200 16 0 0 0 0 x\n"}, {"r.dat", six}}, "r.hea",
         HSIM_RECORD_ERROR_FORMAT, "r.hea line 2: format 8"},
        {"short data", {{"r.hea", "r 1 360 10\nr.dat 16 200 16 0 0 0 0 x\n"}, {"r.dat", six}}, "r.dat",
         HSIM_RECORD_ERROR_DATA, "r.dat"},
        {"gain", {{"r.hea", hea1 + "r.dat 16 abc/mV 16 0 0 0 0 x\n"}, {"r.dat", six}}, "r", HSIM_RECORD_ERROR_HEADER,
         "gain"},
        {"skew", {{"r.hea", hea1 + "r.dat 16:2 200 16 0 0 0 0 x\n"}, {"r.dat", six}}, "r", HSIM_RECORD_ERROR_FORMAT,
         "skew"},
        {"empty header", {{"r.hea", ""}}, "r.hea", HSIM_RECORD_ERROR_HEADER, "r.hea"},
        {"multi-segment", {{"m.hea", "m/2 1 360 100\nseg1 50\nseg2 50\n"}}, "m.hea", HSIM_RECORD_ERROR_FORMAT,
         "multi-segment"},
        {"no header", {}, "gone.hea", HSIM_RECORD_ERROR_OPEN, "gone.hea"},
        {"irregular time", {{"c.csv", "time_s,a\n0,1\n0.002,2\n0.005,3\n"}}, "c.csv", HSIM_RECORD_ERROR_HEADER,
         "irregular"},
        {"csv no rate", {{"c.csv", "a,b\n1,2\n"}}, "c.csv", HSIM_RECORD_ERROR_HEADER, "rate"},
        {"csv text field", {{"c.csv", "# rate=100\n1,2\n1,x\n"}}, "c.csv", HSIM_RECORD_ERROR_HEADER, "line 3"},
        {"edf garbage", {{"e.edf", "0       " + Bytes(300, 'x')}}, "e.edf", HSIM_RECORD_ERROR_HEADER, "e.edf"},
        {"binary rate", {{"b.bin", Bytes("\x00\x10\x00\x00\x00\x01\x00\x00", 8)}}, "b.bin", HSIM_RECORD_ERROR_HEADER,
         "rate"},
        // Row 2 has channels 1 and 2, row 3 only channel 1: the message names the lowest one missing.
        {"text row short", {{"t.txt", "500\n9\n3\nI,II,III\n1,2,3\n1,2\n5"}}, "t.txt", HSIM_RECORD_ERROR_DATA,
         "no value of channel 2"},
        {"text channels without rows", {{"t.txt", "500\n9\n99\nI,II\n"}}, "t.txt", HSIM_RECORD_ERROR_HEADER,
         "99 channels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directory(dir);
        for (const auto& [name, bytes] : c.files)
            Write(name, bytes);
        HSIMRecord* r = reinterpret_cast<HSIMRecord*>(&dir);  // must come back null
        EXPECT_EQ(HSIMRecordOpen((dir / c.open).string().c_str(), HSIM_RECORD_AUTO, &r), c.code);
        EXPECT_EQ(r, nullptr);
        EXPECT_NE(std::string(HSIMRecordLastError()).find(c.inMessage), std::string::npos) << HSIMRecordLastError();
    }
}

// Every channel of a multi-channel text file comes from one reading of it:
// 20000 channels of 4 rows (300 kB) open at once, and the memory follows the
// rows present, not the count the header claims.
TEST_F(Records, ManyChannelTextFileOpensQuicklyInLittleMemory)
{
    constexpr int kChannels = 20000;
    std::string names, row;
    for (int c = 0; c < kChannels; ++c) {
        names += (c ? "," : "") + std::to_string(c);
        row += c ? ",0.5" : "-1";
    }
    const std::string path = Write("many.txt", "500\n1000000\n" + std::to_string(kChannels) + "\n" + names + "\n" + row +
                                                   "\n" + row + "\n" + row + "\n" + row + "\n");
    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    RecordPtr r = Open(path);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage after {};
    getrusage(RUSAGE_SELF, &after);
    ASSERT_TRUE(r);
    EXPECT_LT(seconds, 1.0);  // about 10 ms in one reading; the time of one reading per channel grows as 20000^2
    // The values, names and signal list take a few MB; an array per channel
    // for the header's count touches a page each, 80 MB.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 * 1024) << "kB";
    ASSERT_EQ(HSIMRecordSignalCount(r.get()), kChannels);
    for (int c : {0, 1, kChannels - 1}) {
        HSIMRecordSignal info{};
        ASSERT_EQ(HSIMRecordGetSignal(r.get(), c, &info), HSIM_RECORD_OK);
        EXPECT_EQ(info.name, std::to_string(c));
        ExpectValues(ReadAll(r.get(), c), std::vector<double>(4, c ? 0.5 : -1.0));
    }
}

TEST_F(Records, ArgumentsOutsideTheRecordAreRefused)
{
    Write("c.csv", "# rate=100\n1\n2\n3\n");
    RecordPtr r = Open((dir / "c.csv").string());
    ASSERT_TRUE(r);
    HSIMRecord* none = nullptr;
    double v[4];
    HSIMRecordSignal info{};
    EXPECT_EQ(HSIMRecordOpen(nullptr, 0, &none), HSIM_RECORD_ERROR_ARGUMENT);
    EXPECT_EQ(HSIMRecordOpen((dir / "c.csv").string().c_str(), 9, &none), HSIM_RECORD_ERROR_ARGUMENT);
    EXPECT_EQ(HSIMRecordOpen((dir / "c.csv").string().c_str(), 0, nullptr), HSIM_RECORD_ERROR_ARGUMENT);
    EXPECT_EQ(HSIMRecordGetSignal(r.get(), 1, &info), HSIM_RECORD_ERROR_ARGUMENT);
    EXPECT_EQ(HSIMRecordSignalCount(nullptr), HSIM_RECORD_ERROR_ARGUMENT);
    for (const auto& [index, first, count] : {std::tuple{1, 0, 1}, {-1, 0, 1}, {0, 4, 0}, {0, -1, 1}, {0, 0, -1}})
        EXPECT_EQ(HSIMRecordReadMv(r.get(), index, first, count, v), HSIM_RECORD_ERROR_ARGUMENT);
    EXPECT_EQ(HSIMRecordReadMv(r.get(), 0, 0, 1, nullptr), HSIM_RECORD_ERROR_ARGUMENT);
    EXPECT_EQ(HSIMRecordReadMv(r.get(), 0, 3, 5, v), 0);
    EXPECT_STREQ(HSIMRecordResultName(HSIM_RECORD_ERROR_DATA), "HSIM_RECORD_ERROR_DATA");
}

TEST_F(Records, CsvAndTheEcgFilesOneRoundEach)
{
    struct Case {
        std::string file;
        Bytes bytes;
        int kind;
        double rate;
        std::vector<std::string> names;
        std::vector<std::vector<double>> values;
    } cases[] = {
        {"render.csv", "Time_S,ac_mv,dc_mv\r\n0,0.1,1\r\n0.002,0.2,1\r\n0.004,-0.3,1\r\n", HSIM_RECORD_CSV, 500,
         {"ac_mv", "dc_mv"}, {{0.1, 0.2, -0.3}, {1, 1, 1}}},
        {"plain.data", "# rate=250\n0.5,1\n-2,3e-1\n", HSIM_RECORD_CSV, 250, {"column 1", "column 2"},
         {{0.5, -2}, {1, 0.3}}},
        {"multi.txt", "500\n3\n2\nI,II\n0.1,0.2\n0.3,0.4\n-0.5,9\n", HSIM_RECORD_ECG_TEXT, 500, {"I", "II"},
         {{0.1, 0.3, -0.5}, {0.2, 0.4, 2.5}}},
        {"unnamed.txt", "500\n1\n2\nI\n0.1,0.2\n", HSIM_RECORD_ECG_TEXT, 500, {"I", "channel 2"}, {{0.1}, {0.2}}},
        {"single.ecg", "1000\n2\n0.25\n-0.5\n", HSIM_RECORD_ECG_TEXT, 1000, {"ECG"}, {{0.25, -0.5}}},
        // Big-endian rate 500, count 2, then 1000 uV and -250 uV.
        {"b.bin", Bytes("\x01\xf4\x00\x00\x00\x02\x03\xe8\xff\x06", 10), HSIM_RECORD_ECG_BINARY, 500, {"ECG"},
         {{1.0, -0.25}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        RecordPtr r = Open(Write(c.file, c.bytes));
        ASSERT_TRUE(r);
        EXPECT_EQ(HSIMRecordKindOf(r.get()), c.kind);
        ASSERT_EQ(HSIMRecordSignalCount(r.get()), static_cast<int>(c.names.size()));
        for (int i = 0; i < static_cast<int>(c.names.size()); ++i) {
            HSIMRecordSignal info{};
            ASSERT_EQ(HSIMRecordGetSignal(r.get(), i, &info), HSIM_RECORD_OK);
            EXPECT_EQ(info.name, c.names[i]);
            EXPECT_STREQ(info.units, "mV");
            EXPECT_DOUBLE_EQ(info.rate, c.rate);
            ExpectValues(ReadAll(r.get(), i), c.values[i], 1e-12);
        }
    }
}

}  // namespace
