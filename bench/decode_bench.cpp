// Decoding one record into the output sink, as the console does for each line, with no I/O.
#include <benchmark/benchmark.h>

#include <string_view>

#include "common/output_sink.h"
#include "console/console.h"
#include "tlv/walk.h"

namespace {

// Lines from the generated corpus: a READ RECORD with the account number, a GPO
// response, and an issuer public key certificate record.
constexpr std::string_view pan_record =
    "5A0822961707925882025F24032712315F25032212015F34010157132296170792588202D2712201"
    "2806292384850F5F280208409F0702FF004203950945";
constexpr std::string_view gpo_response =
    "820219809410080101001001020118010200200102009F360201289F260849A89F992A0C29A39F27"
    "01809F1007740566CFDF406B";
constexpr std::string_view certificate_record =
    "8F01059081B07446A3393F766D0A04FF157A6FF41367CB14BDE85C12DF9D27882461BD6B6B4F14FB"
    "49C747C939ADCE1605C0EC4C9598B7EAACAFF5CE615E967496B7632F2B7BA896712A5957C2249676"
    "FB7EC6DE55225AC190439CB84CCB83FC67A3822DC78B272EBE30D166E70814BCEF36A97A825E820E"
    "1F745D4E55C26629F23ADE54CB1609A8CCC05C0FBBDD9ADB400067319243B8D750637007F3D9B1CB"
    "9EDF867B8370304ED6BF1EA4B86A6C62D7D7376B403D9F32010392243F1A4CFAD94F6675CDE7B11D"
    "B5755CC4E9E492A45BAAF25845A54B71204EE5A0EA7BF1EA";

void decode_line(benchmark::State& state, std::string_view text) {
  std::array<char, emvtlv::line_buffer_size> line{};
  std::array<std::uint8_t, emvtlv::record_buffer_size> record{};
  emvtlv::output_sink out(1 << 16);
  emvtlv::hidden_nibbles hidden(emvtlv::record_buffer_size);  // made once, as the console does
  for (auto _ : state) {
    out.clear();
    const emvtlv::decoded_record decoded = emvtlv::decode_line(text, line, record);
    emvtlv::process_emv(record, decoded.count, out, hidden, decoded.end);
    benchmark::DoNotOptimize(out.view().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

BENCHMARK_CAPTURE(decode_line, pan_record, pan_record);
BENCHMARK_CAPTURE(decode_line, gpo_response, gpo_response);
BENCHMARK_CAPTURE(decode_line, certificate_record, certificate_record);

}  // namespace
