// Speed of the PDU codec: encoding, and parsing plus decoding, of the three PDUs the
// client handles most: a full 7-bit message, a full UCS2 message and one segment of
// a long message with its concatenation header.
#include <benchmark/benchmark.h>

#include <string>

#include "sms/smsbase.h"

namespace {

struct Message {
    std::string text;
    std::string header;
    int32_t coding;
};

Message FullGsm7() {
    return {std::string(160, 'a'), "", velka::kCodingGsm7};
}

Message FullUcs2() {
    std::string text;
    for (int i = 0; i < 70; ++i) text.push_back(static_cast<char>(0xC0 + i % 64));  // А..я
    return {text, "", velka::kCodingUcs2};
}

Message Segment() {
    return {std::string(153, 'a'), "0500030A0201", velka::kCodingGsm7};
}

std::string Encode(const Message& message) {
    velka::TSMS sms;
    sms.Text = message.text;
    sms.Number = "+71234567890";
    sms.UDH = message.header;
    sms.Coding = message.coding;
    return sms.EncodeSubmit();
}

// The SMS-DELIVER that the recipient's modem lists for the message.
std::string Deliver(const Message& message) {
    const std::string submit = Encode(message);
    const std::string address = "0B911732547698F0";
    const std::string first_octet = message.header.empty() ? "04" : "44";
    return "07910700000000F0" + first_octet + address + "00" +
           submit.substr(8 + address.size(), 2) + "62216002251421" +
           submit.substr(12 + address.size());
}

void BM_Encode(benchmark::State& state, const Message& message) {
    for (auto _ : state) benchmark::DoNotOptimize(Encode(message));
    state.SetItemsProcessed(state.iterations());
}

void BM_ParseAndDecode(benchmark::State& state, const Message& message) {
    const std::string pdu = Deliver(message);
    for (auto _ : state) {
        velka::TSMS sms;
        sms.ParsePDU(pdu);
        benchmark::DoNotOptimize(sms.DecodeSender());
        benchmark::DoNotOptimize(sms.DecodeTimeStamp());
        benchmark::DoNotOptimize(sms.DecodeText());
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_Encode, gsm7_160, FullGsm7());
BENCHMARK_CAPTURE(BM_Encode, ucs2_70, FullUcs2());
BENCHMARK_CAPTURE(BM_Encode, gsm7_segment_153, Segment());
BENCHMARK_CAPTURE(BM_ParseAndDecode, gsm7_160, FullGsm7());
BENCHMARK_CAPTURE(BM_ParseAndDecode, ucs2_70, FullUcs2());
BENCHMARK_CAPTURE(BM_ParseAndDecode, gsm7_segment_153, Segment());

}  // namespace

BENCHMARK_MAIN();
