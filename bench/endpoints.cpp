// The AI client's large bodies: decoding a 10 MB embeddings answer beside parsing the same text into a plain
// JSON value, and building a 25 MB upload beside one copy of its bytes.
#include "aiclient/Embeddings.h"
#include "aiclient/Images.h"

#include <benchmark/benchmark.h>
#include <random>

using namespace aiclient;

namespace {

/// An embeddings answer of about `megabytes` MB: vectors of 3072 numbers written as the service writes them.
std::string embeddingsAnswer(std::size_t megabytes)
{
    std::mt19937 random(42);
    std::uniform_real_distribution<double> number(-0.1, 0.1);
    std::string text = R"({"object":"list","data":[)";
    for (std::size_t index = 0; text.size() < megabytes << 20; ++index) {
        if (index > 0)
            text += ',';
        text += R"({"object":"embedding","index":)";
        text += std::to_string(index);
        text += R"(,"embedding":[)";
        for (int i = 0; i < 3072; ++i) {
            if (i > 0)
                text += ',';
            text += std::to_string(number(random));
        }
        text += "]}";
    }
    text += R"(],"model":"text-embedding-3-large","usage":{"prompt_tokens":8,"total_tokens":8}})";
    return text;
}

const std::string& answer()
{
    static const std::string text = embeddingsAnswer(10);
    return text;
}

void EmbeddingsDecodeBaseline(benchmark::State& state)
{
    const std::string& text = answer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(nlohmann::json::parse(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(EmbeddingsDecodeBaseline)->Name("embeddings_10MB_decode/baseline")->Unit(benchmark::kMillisecond);

void EmbeddingsDecode(benchmark::State& state)
{
    const std::string& text = answer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeJson<EmbeddingsResult>(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(EmbeddingsDecode)->Name("embeddings_10MB_decode/decodeJson")->Unit(benchmark::kMillisecond);

const ImageEditsQuery& upload()
{
    static const ImageEditsQuery query = [] {
        ImageEditsQuery made;
        made.image.assign(20u << 20, '\x89');
        made.mask = std::string(5u << 20, '\x01');
        made.prompt = "Replace the sky";
        made.n = 1;
        made.size = ImagesQuery::Size::_1024;
        return made;
    }();
    return query;
}

/// One copy of the upload's bytes into a fresh buffer: the least any body builder must do.
void MultipartBaseline(benchmark::State& state)
{
    const ImageEditsQuery& query = upload();
    for (auto _ : state) {
        std::string copy;
        copy.reserve(query.image.size() + query.mask->size());
        copy += query.image;
        copy += *query.mask;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (25u << 20)));
}
BENCHMARK(MultipartBaseline)->Name("multipart_25MB_build/baseline")->Unit(benchmark::kMillisecond);

void MultipartBuild(benchmark::State& state)
{
    const ImageEditsQuery& query = upload();
    for (auto _ : state) {
        benchmark::DoNotOptimize(query.encode("9F2C7A52-3A0B-4D8E-A1E2-5B6C7D8E9F00"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (25u << 20)));
}
BENCHMARK(MultipartBuild)->Name("multipart_25MB_build/encode")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
