"""scripts/whisper-convert writes what whisper.cpp's loader reads, and the
converted Whisper parts transcribe real speech in libwhisper."""
import pathlib
import struct
import subprocess
import sys

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
import whisper_parts  # noqa: E402

CONVERTER = ROOT / "scripts" / "whisper-convert"

D, MELS, AUDIO_CTX, TEXT_CTX, LAYERS = 64, 80, 24, 16, 2
# Byte-level BPE text: "Ġ" is a space, "Ċ" a newline, "Ã©" the two bytes of "é".
REGULAR = ["a", "Ġthe", "Ċ", "Ã©", "!"]
TOKENS = REGULAR + ["<|endoftext|>", "<|startoftranscript|>", "<|en|>", "<|transcribe|>"]
Q8_0_BLOCK = 34


def write_ctranslate2(path, variables, aliases):
    """model.bin as CTranslate2's Python converters write it."""
    type_ids = {np.float32: 0, np.int8: 1, np.int16: 2, np.float16: 4}

    def string(text):
        return struct.pack("<H", len(text) + 1) + text.encode() + b"\0"

    out = struct.pack("<I", 6) + string("WhisperSpec") + struct.pack("<II", 3, len(variables))
    for name, value in variables.items():
        out += string(name) + struct.pack("<B", value.ndim)
        out += struct.pack(f"<{value.ndim}I", *value.shape)
        out += struct.pack("<BI", type_ids[value.dtype.type], value.nbytes) + value.tobytes()
    out += struct.pack("<I", len(aliases))
    for alias, name in aliases.items():
        out += string(alias) + string(name)
    path.write_bytes(out)


def small_model():
    """A two-layer Whisper in CTranslate2's naming, f16 weights."""
    rng = np.random.default_rng(7)
    variables = {}

    def tensor(name, *shape):
        variables[name] = rng.normal(0, 0.5, shape).astype(np.float16)

    def linear(scope, rows, columns=D):
        tensor(f"{scope}/weight", rows, columns)
        tensor(f"{scope}/bias", rows)

    def norm(scope):
        tensor(f"{scope}/gamma", D)
        tensor(f"{scope}/beta", D)

    tensor("encoder/conv1/weight", D, MELS, 3)
    tensor("encoder/conv1/bias", D)
    tensor("encoder/conv2/weight", D, D, 3)
    tensor("encoder/conv2/bias", D)
    tensor("encoder/position_encodings/encodings", AUDIO_CTX, D)
    norm("encoder/layer_norm")
    variables["encoder/num_heads"] = np.array(2, np.int16)
    tensor("decoder/embeddings/weight", len(TOKENS), D)
    tensor("decoder/position_encodings/encodings", TEXT_CTX, D)
    norm("decoder/layer_norm")
    variables["decoder/num_heads"] = np.array(2, np.int16)
    variables["decoder/activation"] = np.array(1, np.int8)
    for i in range(LAYERS):
        for side in ("encoder", "decoder"):
            scope = f"{side}/layer_{i}"
            norm(f"{scope}/self_attention/layer_norm")
            linear(f"{scope}/self_attention/linear_0", 3 * D)
            linear(f"{scope}/self_attention/linear_1", D)
            norm(f"{scope}/ffn/layer_norm")
            linear(f"{scope}/ffn/linear_0", 4 * D)
            linear(f"{scope}/ffn/linear_1", D, 4 * D)
        scope = f"decoder/layer_{i}/attention"
        norm(f"{scope}/layer_norm")
        linear(f"{scope}/linear_0", D)
        linear(f"{scope}/linear_1", 2 * D)
        linear(f"{scope}/linear_2", D)
    # The stored key biases are zero.
    for name in list(variables):
        if name.endswith("self_attention/linear_0/bias"):
            variables[name][D:2 * D] = 0
        if name.endswith("attention/linear_1/bias") and "self" not in name:
            variables[name][:D] = 0
    return variables, {"decoder/projection/weight": "decoder/embeddings/weight"}


def read_ggml(path):
    """(hyper-parameters, mel filters, tokens, {name: (type, ne, values)})."""
    data = path.read_bytes()
    pos = 0

    def ints(count):
        nonlocal pos
        values = struct.unpack_from(f"<{count}i", data, pos)
        pos += 4 * count
        return values

    magic, *hparams = ints(12)
    assert magic == 0x67676D6C
    n_mel, n_fft = ints(2)
    filters = np.frombuffer(data, "<f4", n_mel * n_fft, pos).reshape(n_mel, n_fft)
    pos += filters.nbytes
    tokens = []
    for _ in range(ints(1)[0]):
        (length,) = ints(1)
        tokens.append(data[pos:pos + length])
        pos += length
    tensors = {}
    while pos < len(data):
        n_dims, length, ggml_type = ints(3)
        ne = ints(n_dims)
        name = data[pos:pos + length].decode()
        pos += length
        count = int(np.prod(ne))
        if ggml_type == 8:
            blocks = np.frombuffer(data, [("d", "<f2"), ("qs", "i1", 32)], count // 32, pos)
            values = (blocks["d"].astype(np.float32)[:, None] * blocks["qs"]).reshape(-1)
            pos += blocks.nbytes
        else:
            values = np.frombuffer(data, {0: "<f4", 1: "<f2"}[ggml_type], count, pos)
            pos += values.nbytes
        tensors[name] = (ggml_type, ne, values.astype(np.float32).reshape(tuple(reversed(ne))))
    assert pos == len(data)
    return hparams, filters, tokens, tensors


def expected_tensors(weight_type):
    """Every tensor whisper.cpp's loader asks for: name, type, ne."""
    f32, f16 = 0, 1
    conv = f16 if weight_type != 0 else f32
    expected = {
        "encoder.conv1.weight": (conv, (3, MELS, D)),
        "encoder.conv1.bias": (f32, (1, D)),
        "encoder.conv2.weight": (conv, (3, D, D)),
        "encoder.conv2.bias": (f32, (1, D)),
        "encoder.positional_embedding": (f32, (D, AUDIO_CTX)),
        "encoder.ln_post.weight": (f32, (D,)),
        "encoder.ln_post.bias": (f32, (D,)),
        "decoder.positional_embedding": (f32, (D, TEXT_CTX)),
        "decoder.token_embedding.weight": (weight_type, (D, len(TOKENS))),
        "decoder.ln.weight": (f32, (D,)),
        "decoder.ln.bias": (f32, (D,)),
    }
    for i in range(LAYERS):
        for block in (f"encoder.blocks.{i}", f"decoder.blocks.{i}"):
            attentions = ["attn", "cross_attn"] if block.startswith("decoder") else ["attn"]
            for attn in attentions:
                expected[f"{block}.{attn}_ln.weight"] = (f32, (D,))
                expected[f"{block}.{attn}_ln.bias"] = (f32, (D,))
                for part in ("query", "key", "value", "out"):
                    expected[f"{block}.{attn}.{part}.weight"] = (weight_type, (D, D))
                    if part != "key":
                        expected[f"{block}.{attn}.{part}.bias"] = (f32, (D,))
            expected[f"{block}.mlp_ln.weight"] = (f32, (D,))
            expected[f"{block}.mlp_ln.bias"] = (f32, (D,))
            expected[f"{block}.mlp.0.weight"] = (weight_type, (D, 4 * D))
            expected[f"{block}.mlp.0.bias"] = (f32, (4 * D,))
            expected[f"{block}.mlp.2.weight"] = (weight_type, (4 * D, D))
            expected[f"{block}.mlp.2.bias"] = (f32, (D,))
    return expected


@pytest.fixture(scope="module")
def model_dir(tmp_path_factory):
    path = tmp_path_factory.mktemp("ctranslate2")
    variables, aliases = small_model()
    write_ctranslate2(path / "model.bin", variables, aliases)
    (path / "vocabulary.txt").write_text("\n".join(TOKENS) + "\n", encoding="utf-8")
    return path, variables


def convert(model_path, output, weight_type):
    return subprocess.run([sys.executable, str(CONVERTER), "--type", weight_type,
                           str(model_path), str(output)], capture_output=True, text=True)


# (weight type, its ggml type, the file's ftype, how far a weight may move)
TYPES = [("f16", 1, 1, 0.0), ("q8_0", 8, 7 + 1000 * 2, 1 / 127)]


@pytest.mark.parametrize("weight_type, ggml_type, ftype, tolerance", TYPES)
def test_converted_file(model_dir, tmp_path, weight_type, ggml_type, ftype, tolerance):
    path, variables = model_dir
    output = tmp_path / "ggml.bin"
    result = convert(path, output, weight_type)
    assert result.returncode == 0, result.stderr
    hparams, filters, tokens, tensors = read_ggml(output)

    assert hparams == [len(TOKENS), AUDIO_CTX, D, 2, LAYERS, TEXT_CTX, D, 2, LAYERS, MELS, ftype]
    # The regular tokens as bytes; whisper.cpp adds the special ones itself.
    assert tokens == [b"a", b" the", b"\n", "é".encode(), b"!"]
    assert len(TOKENS) - len(tokens) == 4

    # Slaney-normalised triangles, each of an area of about 1 in Hz (as
    # the 40 Hz bins sample it), rising in order up to 8 kHz.
    assert filters.shape == (80, 201) and (filters >= 0).all()
    np.testing.assert_allclose(filters.sum(axis=1) * 40, 1, rtol=0.1)
    peaks = filters.argmax(axis=1)
    assert (np.diff(peaks) >= 0).all() and peaks[-1] >= 190

    expected = expected_tensors(ggml_type)
    assert {name: (t, ne) for name, (t, ne, _) in tensors.items()} == expected

    def near(name, source):
        value = tensors[name][2]
        source = source.astype(np.float32).reshape(value.shape)
        # A q8_0 value stays within a step of the largest block's scale.
        allowed = tolerance * np.abs(source).max() if tensors[name][0] == 8 else 0
        np.testing.assert_allclose(value, source, atol=allowed, rtol=0, err_msg=name)

    fused = variables["encoder/layer_1/self_attention/linear_0/weight"]
    near("encoder.blocks.1.attn.query.weight", fused[:D])
    near("encoder.blocks.1.attn.key.weight", fused[D:2 * D])
    near("encoder.blocks.1.attn.value.weight", fused[2 * D:])
    bias = variables["decoder/layer_0/self_attention/linear_0/bias"]
    near("decoder.blocks.0.attn.query.bias", bias[:D])
    near("decoder.blocks.0.attn.value.bias", bias[2 * D:])
    cross = variables["decoder/layer_1/attention/linear_1/weight"]
    near("decoder.blocks.1.cross_attn.key.weight", cross[:D])
    near("decoder.blocks.1.cross_attn.value.weight", cross[D:])
    near("decoder.blocks.1.cross_attn.query.weight",
         variables["decoder/layer_1/attention/linear_0/weight"])
    near("decoder.blocks.1.cross_attn.out.weight",
         variables["decoder/layer_1/attention/linear_2/weight"])
    near("encoder.blocks.0.attn.out.weight", variables["encoder/layer_0/self_attention/linear_1/weight"])
    near("decoder.token_embedding.weight", variables["decoder/embeddings/weight"])
    near("encoder.conv1.weight", variables["encoder/conv1/weight"])
    near("encoder.conv2.bias", variables["encoder/conv2/bias"])
    near("encoder.ln_post.weight", variables["encoder/layer_norm/gamma"])
    near("decoder.blocks.1.mlp.2.weight", variables["decoder/layer_1/ffn/linear_1/weight"])


# How the CTranslate2 file is spoiled, and what the converter must name.
SPOILED = [
    ("truncated", lambda data: data[:-100], "truncated"),
    ("alias table cut", lambda data: data[:-3], "truncated"),
    ("bytes after the aliases", lambda data: data + b"\0\0", "left after the alias table"),
    ("another version", lambda data: struct.pack("<I", 5) + data[4:], "version 5"),
]


@pytest.mark.parametrize("case, spoil, message", SPOILED, ids=[c[0] for c in SPOILED])
def test_spoiled_file_is_refused(model_dir, tmp_path, case, spoil, message):
    path, _ = model_dir
    spoiled = tmp_path / "model"
    spoiled.mkdir()
    (spoiled / "model.bin").write_bytes(spoil((path / "model.bin").read_bytes()))
    (spoiled / "vocabulary.txt").write_bytes((path / "vocabulary.txt").read_bytes())
    output = tmp_path / "ggml.bin"
    result = convert(spoiled, output, "f16")
    assert result.returncode != 0
    assert message in result.stderr
    assert not output.exists()


# Each model scripts/fetch-whisper writes, on a recording of 21 words.
MODELS = ["model/ggml-base.bin", "model/ggml-tiny.en.bin"]


@pytest.mark.parametrize("model", MODELS)
def test_converted_model_transcribes_speech(model):
    whisper_parts.require_parts("libwhisper.so.1", model)
    import whisper_decode
    whisper = whisper_decode.Whisper(whisper_parts.PARTS / model,
                                     whisper_parts.PARTS / "libwhisper.so.1")
    try:
        assert whisper.version == "1.8.5"
        wav, reference = whisper_parts.librivox_recordings()[0]
        text = whisper.transcribe(whisper_decode.read_wav(wav), "en", threads=2)
    finally:
        whisper.close()
    assert whisper_parts.word_error_rate([(reference, text)]) < 0.15, text
