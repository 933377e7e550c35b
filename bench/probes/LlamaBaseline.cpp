// The baseline of bench_ondevice: llama.cpp's own generation loop, in a
// process of its own, on the same model, prompt, context and sampling as the
// engine helper. Prints one JSON line: the prompt's evaluation time, the time
// to the first generated token and the generation rate.
//   probe_llama_baseline <model.gguf> <threads> <context> <tokens> <system prompt> <prompt>
#include <ggml-backend.h>
#include <llama.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7)
        return 64;
    const int threads = std::atoi(argv[2]), context = std::atoi(argv[3]), tokens = std::atoi(argv[4]);
    llama_log_set([](ggml_log_level, const char *, void *) {}, nullptr);
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir(exe, size_t(n > 0 ? n : 0));
    ggml_backend_load_all_from_path(dir.substr(0, dir.rfind('/')).c_str());

    llama_model *model = llama_model_load_from_file(argv[1], llama_model_default_params());
    if (!model)
        return 1;
    llama_context_params params = llama_context_default_params();
    params.n_ctx = uint32_t(context);
    params.n_batch = 512;
    params.n_threads = params.n_threads_batch = threads;
    llama_context *ctx = llama_init_from_model(model, params);
    const llama_vocab *vocab = llama_model_get_vocab(model);
    llama_sampler *sampler = llama_sampler_chain_init(llama_sampler_chain_default_params());
    llama_sampler_chain_add(sampler, llama_sampler_init_top_k(40));
    llama_sampler_chain_add(sampler, llama_sampler_init_top_p(0.95f, 1));
    llama_sampler_chain_add(sampler, llama_sampler_init_min_p(0.05f, 1));
    llama_sampler_chain_add(sampler, llama_sampler_init_temp(0.8f));
    llama_sampler_chain_add(sampler, llama_sampler_init_dist(LLAMA_DEFAULT_SEED));

    llama_chat_message chat[] = {{"system", argv[5]}, {"user", argv[6]}};
    std::string text(65536, '\0');
    text.resize(size_t(llama_chat_apply_template(llama_model_chat_template(model, nullptr), chat, 2, true,
                                                 text.data(), int32_t(text.size()))));
    const int count = -llama_tokenize(vocab, text.data(), int32_t(text.size()), nullptr, 0, true, true);
    std::vector<llama_token> prompt(static_cast<size_t>(count));
    llama_tokenize(vocab, text.data(), int32_t(text.size()), prompt.data(), count, true, true);

    const auto start = std::chrono::steady_clock::now();
    for (int done = 0; done < count; done += 512)
        llama_decode(ctx, llama_batch_get_one(prompt.data() + done, std::min(512, count - done)));
    const double promptMs = msSince(start);
    double firstTokenMs = 0;
    const auto generating = std::chrono::steady_clock::now();
    int made = 0;
    for (; made < tokens; ++made) {
        llama_token token = llama_sampler_sample(sampler, ctx, -1);
        char piece[256];
        llama_token_to_piece(vocab, token, piece, sizeof piece, 0, false);
        if (made == 0)
            firstTokenMs = msSince(start);
        if (llama_decode(ctx, llama_batch_get_one(&token, 1)) != 0)
            break;
    }
    const double generateMs = msSince(generating);
    std::printf("{\"promptTokens\":%d,\"promptMs\":%.3f,\"firstTokenMs\":%.3f,\"tokens\":%d,\"tokensPerSecond\":%.3f}\n",
                count, promptMs, firstTokenMs, made, made * 1000.0 / generateMs);
    llama_sampler_free(sampler);
    llama_free(ctx);
    llama_model_free(model);
    return 0;
}
