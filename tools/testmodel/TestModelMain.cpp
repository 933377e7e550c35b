// hushwing-testmodel: writes a small llama-architecture GGUF model with random
// weights, for the tests and benchmarks of the on-device engine (no real
// weights exist here, and none are needed to exercise the engine). The
// tokenizer is a real one, copied from a vocabulary file of llama.cpp's
// release; the chat template is ChatML.
//
//   hushwing-testmodel <vocab.gguf> <out.gguf> [--width N] [--layers N] [--f16] [--seed N]
//   hushwing-testmodel --architecture NAME <out.gguf>
//
// The second form writes a well-formed GGUF file of an architecture llama.cpp
// does not know, with one small tensor.
#include <ggml-backend.h>
#include <ggml.h>
#include <gguf.h>
#include <llama.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char *chatml = "{% for message in messages %}{{'<|im_start|>' + message['role'] + '\\n' + message['content'] + "
                     "'<|im_end|>' + '\\n'}}{% endfor %}{% if add_generation_prompt %}{{ '<|im_start|>assistant\\n' }}{% endif %}";

struct Fill
{
    uint32_t seed;
};

void fill(ggml_tensor *tensor, void *userdata)
{
    std::mt19937 random(static_cast<Fill *>(userdata)->seed ^ uint32_t(std::hash<std::string>{}(tensor->name)));
    std::normal_distribution<float> normal(0.0f, 0.02f);
    const int64_t n = ggml_nelements(tensor);
    std::vector<float> values(static_cast<size_t>(n));
    for (auto &v : values)
        v = std::strstr(tensor->name, "norm") ? 1.0f : normal(random);
    if (tensor->type == GGML_TYPE_F32) {
        ggml_backend_tensor_set(tensor, values.data(), 0, ggml_nbytes(tensor));
    } else {
        std::vector<ggml_fp16_t> halves(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            halves[i] = ggml_fp32_to_fp16(values[i]);
        ggml_backend_tensor_set(tensor, halves.data(), 0, ggml_nbytes(tensor));
    }
}

// The model's tensors must be listed in its metadata, with their shapes and types.
void addTensor(gguf_context *gguf, const std::string &name, ggml_type type, int64_t a, int64_t b = 0)
{
    ggml_init_params params{ggml_tensor_overhead() * 2, nullptr, true};
    ggml_context *ctx = ggml_init(params);
    ggml_tensor *t = b ? ggml_new_tensor_2d(ctx, type, a, b) : ggml_new_tensor_1d(ctx, type, a);
    ggml_set_name(t, name.c_str());
    gguf_add_tensor(gguf, t);
    ggml_free(ctx);
}

int foreign(const std::string &architecture, const char *out)
{
    gguf_context *gguf = gguf_init_empty();
    gguf_set_val_str(gguf, "general.architecture", architecture.c_str());
    ggml_init_params params{ggml_tensor_overhead() * 2 + 1024, nullptr, false};
    ggml_context *ctx = ggml_init(params);
    ggml_tensor *t = ggml_new_tensor_1d(ctx, GGML_TYPE_F32, 16);
    std::memset(t->data, 0, ggml_nbytes(t));
    ggml_set_name(t, "weights");
    gguf_add_tensor(gguf, t);
    const bool ok = gguf_write_to_file(gguf, out, false);
    ggml_free(ctx);
    gguf_free(gguf);
    return ok ? 0 : 1;
}

std::string folderOfThisProgram()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string dir(path, size_t(n > 0 ? n : 0));
    return dir.substr(0, dir.rfind('/'));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--architecture") == 0)
        return foreign(argv[2], argv[3]);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <vocab.gguf> <out.gguf> [--width N] [--layers N] [--f16] [--seed N]\n", argv[0]);
        return 64;
    }
    int width = 64, layers = 2;
    ggml_type type = GGML_TYPE_F32;
    Fill seed{1};
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--f16")
            type = GGML_TYPE_F16;
        else if (arg == "--width" && i + 1 < argc)
            width = std::atoi(argv[++i]);
        else if (arg == "--layers" && i + 1 < argc)
            layers = std::atoi(argv[++i]);
        else if (arg == "--seed" && i + 1 < argc)
            seed.seed = uint32_t(std::atoi(argv[++i]));
    }
    llama_log_set([](ggml_log_level level, const char *text, void *) {
        if (level == GGML_LOG_LEVEL_ERROR)
            std::fputs(text, stderr);
    }, nullptr);
    if (ggml_backend_dev_count() == 0)
        ggml_backend_load_all_from_path(folderOfThisProgram().c_str());

    gguf_init_params readParams{true, nullptr};
    gguf_context *vocab = gguf_init_from_file(argv[1], readParams);
    if (!vocab) {
        std::fprintf(stderr, "cannot read the vocabulary %s\n", argv[1]);
        return 1;
    }
    const int heads = std::max(2, width / 64);
    const int feedForward = width * 4;
    gguf_context *gguf = gguf_init_empty();
    gguf_set_kv(gguf, vocab);
    const auto vocabSize = int64_t(gguf_get_arr_n(gguf, gguf_find_key(gguf, "tokenizer.ggml.tokens")));
    gguf_set_val_str(gguf, "general.architecture", "llama");
    gguf_set_val_str(gguf, "general.name", "Hushwing test model");
    gguf_set_val_u32(gguf, "llama.context_length", 4096);
    gguf_set_val_u32(gguf, "llama.embedding_length", uint32_t(width));
    gguf_set_val_u32(gguf, "llama.block_count", uint32_t(layers));
    gguf_set_val_u32(gguf, "llama.feed_forward_length", uint32_t(feedForward));
    gguf_set_val_u32(gguf, "llama.attention.head_count", uint32_t(heads));
    gguf_set_val_u32(gguf, "llama.attention.head_count_kv", uint32_t(heads));
    gguf_set_val_u32(gguf, "llama.rope.dimension_count", uint32_t(width / heads));
    gguf_set_val_f32(gguf, "llama.attention.layer_norm_rms_epsilon", 1e-5f);
    gguf_set_val_str(gguf, "tokenizer.chat_template", chatml);

    addTensor(gguf, "token_embd.weight", type, width, vocabSize);
    addTensor(gguf, "output_norm.weight", GGML_TYPE_F32, width);
    addTensor(gguf, "output.weight", type, width, vocabSize);
    for (int l = 0; l < layers; ++l) {
        const std::string p = "blk." + std::to_string(l) + ".";
        addTensor(gguf, p + "attn_norm.weight", GGML_TYPE_F32, width);
        for (const char *m : {"attn_q", "attn_k", "attn_v", "attn_output"})
            addTensor(gguf, p + m + ".weight", type, width, width);
        addTensor(gguf, p + "ffn_norm.weight", GGML_TYPE_F32, width);
        addTensor(gguf, p + "ffn_gate.weight", type, width, feedForward);
        addTensor(gguf, p + "ffn_up.weight", type, width, feedForward);
        addTensor(gguf, p + "ffn_down.weight", type, feedForward, width);
    }

    llama_model *model = llama_model_init_from_user(gguf, fill, &seed, llama_model_default_params());
    if (!model) {
        std::fprintf(stderr, "llama.cpp could not make the model\n");
        return 1;
    }
    llama_model_save_to_file(model, argv[2]);
    llama_model_free(model);
    gguf_free(gguf);
    gguf_free(vocab);
    return 0;
}
