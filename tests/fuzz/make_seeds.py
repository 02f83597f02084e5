#!/usr/bin/env python3
"""Writes the seed corpora NAME/corpus/ from the cases the table tests use. Run it again
after adding a case; files the fuzzers found (findings kept as seeds) are left as they are."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

SAMPLE_CHECKPOINT = (
    '{"lease_id":"L-1","begin":"4294967296","end":"4295032832","offset":65536,'
    '"backend":"record-recursive","checked":"18446744073709551616","candidates":"7",'
    '"survivors":"5","proof_exclusions":"3","frontier_nodes":"0","steps":"1234567",'
    '"u64":"4","u128":"1","u256":"0","bigint":"0","proof_hash":"ab12",'
    '"checksum_sum":18446744073709551615,"checksum_xor":42,"elapsed":"0.333333333333",'
    '"kernel":"0","transfer":"1e-07","valid":false,'
    '"message":"counterexample or invalid start at 27"}\n')


def checkpoint_case(members):
    return '{"lease_id":"L","begin":"0","end":"9",' + members + '}\n'


SEEDS = {
    "integer_text": {
        "hex-blanks": " 0x1F ", "hex-upper": "0X10", "inner-blank": "12 34", "all-blanks": "\t\n7\r\v\f",
        "pow-0": "2^0", "pow-64": "2^64", "pow-127": "2^127", "pow-128": "2^128", "leading-zeros": "000123",
        "hex-leading-zeros": "0x00ff", "max": "340282366920938463463374607431768211455",
        "hex-max": "0xffffffffffffffffffffffffffffffff", "two-64": "18446744073709551616",
        "empty": "", "blanks-only": " \t ", "three-pow": "3^4", "zero-two-pow": "02^4", "pow-empty": "2^",
        "pow-twice": "2^1^2", "pow-sign": "2^+1", "pow-wide": "2^4294967296", "hex-bare": "0x",
        "minus": "-1", "plus": "+1", "letter": "12a", "hex-bad": "0x1g",
        "two-128": "340282366920938463463374607431768211456",
        "hex-two-128": "0x100000000000000000000000000000000",
        "hex-upper-two-128": " 0X100000000000000000000000000000000 ",
        "nines": "999999999999999999999999999999999999999", "pow-leading-zero": "2^0128",
        "two-128-leading-zero": "0340282366920938463463374607431768211456",
        "big": "1234567890123456789012345678901234567890123456789", "zeros": "000", "plain": "101",
    },
    "json_member": {
        # The first byte picks the key: 0 "a", 1 "n", 2 "lease_id", 4 "end", 5 "complete".
        "blanks-around-colon": "\x00{\"a\" : \"x\"}", "tabs": "\x00{\"a\"\t:\t\"x\"}",
        "line-breaks": "\x00{\"a\"\r\n:\n \"x\"}", "escaped-quote": "\x00{\"a\":\"x\\\"y\"}",
        "nested-first": "\x00{\"outer\":{\"a\":\"1\"},\"a\":\"2\"}", "quoted-number": "\x01{\"n\":\"5\"}",
        "number": "\x01{\"n\":5}", "too-large": "\x01{\"n\":18446744073709551616}",
        "max": "\x01{\"n\":18446744073709551615}", "fraction": "\x01{\"n\":12.5}", "exponent": "\x01{\"n\":1e5}",
        "negative": "\x01{\"n\":-1}", "leading-zeros": "\x01{\"n\":00000000000000000000042}",
        "bool": "\x05{\"complete\":true}", "bool-quoted": "\x05{\"complete\":\"true\"}",
        "bool-false": "\x05{\"complete\":false}", "empty": "\x00",
        "inner-key": "\x04{\"backend\":\"x\",\"end\":\"9\"}", "null": "\x00{\"a\":null,\"a\":\"v\"}",
        "open": "\x00{\"a\":\"open", "lease": "\x02{\"lease_id\":\"L-1\",\"begin\":\"0\",\"end\":\"2^128\"}",
    },
    "safe_text": {
        "plain-json": "\x00L-17", "plain-path": "\x01L-17", "quote": "\x00a\"b", "backslash": "\x00c\\1",
        "control": "\x00t\x01k", "delete": "\x00a\x7fb", "slash": "\x01a/b", "blank": "\x01a b",
        "question": "\x01a?b", "hash": "\x01a#b", "percent": "\x01a%2e", "slash-in-json": "\x00a/b",
        "utf8": "\x01caf\xc3\xa9", "empty": "\x00",
    },
    "small_files": {
        "settings": '{"profile":2,"pause_on_battery":true,"pause_while_in_use":true,"in_use_minutes":45}\n',
        "settings-defaults": '{"profile":0,"pause_on_battery":false,"pause_while_in_use":false,"in_use_minutes":3}\n',
        "settings-out-of-range": '{"profile":7,"pause_on_battery":"yes","pause_while_in_use":false,"in_use_minutes":0}',
        "settings-unknown-member": '{"profile":1,"pause_on_battery":true,"pause_while_in_use":false,"in_use_minutes":3,'
                                   '"theme":"dark"}',
        "totals": '{"units_accepted":3,"starts_verified":"36893488147419103230","since":"2026-12-10"}\n',
        "totals-no-day": '{"units_accepted":3,"starts_verified":"12","since":"yesterday"}',
        "totals-cut": '{"units_accepted":3,"starts_verified":"12"',
    },
    "checkpoint": {
        "sample": SAMPLE_CHECKPOINT,
        "reordered-blanks": '{"end" : "9", "offset" : 3, "begin" : "0", "lease_id" : "L", "checked" : "12"}\n',
        "offset-at-length": '{"lease_id":"L","begin":"0","end":"9","offset":9}',
        "offset-beyond": '{"lease_id":"L","begin":"0","end":"9","offset":10}',
        "end-2-128": '{"lease_id":"L","begin":"340282366920938463463374607431768211451","end":"2^128","offset":5}',
        "whole-space": '{"lease_id":"L","begin":"0","end":"2^128"}',
        "reversed": '{"lease_id":"L","begin":"9","end":"0"}',
        "no-members": '{"lease_id":"L","begin":"0","end":"9"}',
        "counter-letter": checkpoint_case('"checked":"12x"'),
        "counter-empty": checkpoint_case('"steps":""'),
        "offset-too-large": checkpoint_case('"offset":18446744073709551616'),
        "xor-too-large": checkpoint_case('"checksum_xor":99999999999999999999'),
        "time-word": checkpoint_case('"elapsed":"soon"'),
        "time-huge": checkpoint_case('"kernel":"1e999"'),
        "hash-backslash": checkpoint_case('"proof_hash":"ab\\\\"'),
        "backend-tab": checkpoint_case('"backend":"cpu\tsieve"'),
        "message-line-break": checkpoint_case('"message":"a\nb"'),
        "times-forms": checkpoint_case('"elapsed":"nan","kernel":"0x1p-3","transfer":"  5e-324"'),
        # Whole files of the writer's form, and the damage the checkpoint table tries.
        "sample-older": SAMPLE_CHECKPOINT.replace(',"valid":false,"message":"counterexample or invalid start at 27"', ''),
        "sample-blanks": SAMPLE_CHECKPOINT.replace(',', ' ,\n ').replace(':', ' :\t'),
        "cut-after-offset": SAMPLE_CHECKPOINT[:SAMPLE_CHECKPOINT.index(',"backend"')],
        "cut-in-checksum": SAMPLE_CHECKPOINT[:SAMPLE_CHECKPOINT.index('"checksum_sum":') + 20],
        "offset-23-digits": SAMPLE_CHECKPOINT.replace('"offset":65536', '"offset":99999999999999999999999'),
        "elapsed-1e400": SAMPLE_CHECKPOINT.replace('"elapsed":"0.333333333333"', '"elapsed":"1e400"'),
        "message-escape": SAMPLE_CHECKPOINT.replace('start at 27', 'start at \\u0001'),
        "member-twice": SAMPLE_CHECKPOINT.replace('"offset":65536', '"offset":65536,"offset":0'),
        "no-checksum-sum": SAMPLE_CHECKPOINT.replace('"checksum_sum":18446744073709551615,', ''),
        "fraction": SAMPLE_CHECKPOINT.replace('"offset":65536', '"offset":655.36'),
        "two-objects": SAMPLE_CHECKPOINT + '{}',
    },
    "identity": {
        "whole": '{"client_id":"0123456789abcdef0123456789abcdef","worker_id":"w-17","token":"tok.en-1"}',
        "no-token": '{"client_id":"c1","worker_id":"w1","token":""}',
        "token-first": '{"token" : "t", "client_id":"c"}',
        "injected-header": '{"client_id":"c","worker_id":"w","token":"t\r\nX-Injected: 1"}',
        "no-members": '{"x":1}', "not-json": "\x00\x01\x02garbage",
    },
    "challenge_reply": {
        "plain": '{"challenge_id":"c-1","nonce":"abc","difficulty_bits":18}',
        "zero": '{"challenge_id":"c-1","nonce":"abc","difficulty_bits":0}',
        "no-difficulty": '{"challenge_id":"c-1","nonce":"abc"}',
        "unreachable": '{"challenge_id":"c-1","nonce":"abc","difficulty_bits":300}',
        "max-reachable": '{"challenge_id":"c-1","nonce":"abc","difficulty_bits":256}',
        "too-large": '{"challenge_id":"c-1","nonce":"abc","difficulty_bits":18446744073709551616}',
        "quoted-difficulty": '{"challenge_id":"c","nonce":"n","difficulty_bits":"300"}',
        "unusable-id": '{"challenge_id":"c\\\\1","nonce":"abc","difficulty_bits":2}',
    },
    "registration_reply": {
        "plain": '{"worker_id":"w-17","token":"tok.en-1"}',
        "token-first": '{"token":"t","extra":{"a":1},"worker_id":"w"}',
        "no-token": '{"worker_id":"w-17"}', "number-worker": '{"worker_id":7,"token":"t"}',
        "control-token": '{"worker_id":"w","token":"t\\u0001k"}',
        "raw-control-token": '{"worker_id":"w","token":"t\x01k"}', "empty": "",
    },
    "lease_reply": {
        "plain": '{"lease_id":"same","begin":"8589934592","end":"17179869184"}',
        "complete": '{"complete":true}', "complete-quoted": '{"complete":"true","lease_id":"same","begin":"1","end":"5"}',
        "no-begin": '{"lease_id":"same","end":"8589934592"}',
        "slash-id": '{"lease_id":"a/b","begin":"1","end":"5"}', "blank-id": '{"lease_id":"a b","begin":"1","end":"5"}',
        "backslash-begin": '{"lease_id":"L","begin":"1\\\\2","end":"5"}',
        "line-break-end": '{"lease_id":"L","begin":"1","end":"9\n"}',
        "letter-begin": '{"lease_id":"L","begin":"12x","end":"20"}',
        "top-of-space": '{"lease_id":"L","begin":"340282366920938463463374607431768211451","end":"2^128"}',
        "hex-end": '{"lease_id":"L","begin":"0xffffffffffffffffffffffffffff0000","end":"0x100000000000000000000000000000000"}',
        "too-large": '{"lease_id":"L","begin":"0","end":"18446744073709551616"}',
        "reversed": '{"lease_id":"L","begin":"9","end":"0"}', "empty": "",
    },
    # The server's request bodies: the first byte picks the endpoint (0 acquire, 1 heartbeat,
    # 2 register, 3 benchmark, 4 complete).
    "request_body": {
        "acquire": '\x00{"starts_per_second":2.5e+06,"proof_hash":"' + "c1" * 32 + '"}',
        "heartbeat": '\x01{"progress":"640"}',
        "register": '\x02{"challenge_id":"c-1","solution":"12","nickname":"Anonymous","client_id":"' + "ab" * 16 +
                    '","hardware_hash":"' + "0" * 64 + '","build_hash":"' + "1" * 64 + '"}',
        "benchmark": '\x03{"build_hash":"b","backend":"record-recursive","profile":"balanced","starts_per_second":1e+06}',
        # The engine's record of [2^32, 2^32 + 2^16), the unit the target checks records against.
        "complete": '\x04{"result":{"checked":"65536","proof_exclusions":"64359","proof_hash":'
                    '"c1ef0c13ddffe84f90e9f8badb88525f82f9bed819a1e9533e40f96ce91e94b9",'
                    '"checksum_sum":15353022665700328419,"checksum_xor":3989322123775178449,"frontier_nodes":"0",'
                    '"survivors_evaluated":"1177","u64_completions":"1177","u128_completions":"0",'
                    '"u256_completions":"0","bigint_completions":"0","steps":"61647","elapsed_seconds":0.064255819,'
                    '"kernel_seconds":0,"transfer_seconds":0,"valid":true}}',
        "duplicate": '\x00{"proof_hash":"a","proof_hash":"b"}', "deep": '\x04{"result":[[[[[[[[[[1]]]]]]]]]]}',
        "not-an-object": '\x01["progress"]', "open": '\x04{"result":{"checked":"1"', "empty": "\x00",
    },
    "complete_reply": {
        "plain": '{"audit":"accepted"}', "none": '{}', "bool": '{"audit":false}',
        "nested": '{"result":{"audit":"inner"},"audit":"outer"}', "open": '{"audit":"open',
        "rejected": '{"lease_id":"lease-1","accepted":false,"audit":"rejected: checksum_sum is 5"}',
        "rejected-quoted": '{"accepted":"false","audit":"x"}', "accepted": '{"accepted":true,"audit":"accepted"}',
    },
}

# The error replies: a 32-bit status (host order, as the target reads it), the Retry-After
# header's value, a line feed, and the body.
ERROR_REPLIES = {
    "busy": (503, "120", '{"error":"all leased"}'), "unauthorised-empty": (401, "", ""),
    "server": (500, "Sun, 06 Nov 1994 08:49:37 GMT", "x"),
    "expired": (409, "Sunday, 06-Nov-94 08:49:37 GMT", "expired"),
    "no-status": (0, "Sun Nov  6 08:49:37 1994", "body"),
    "not-found": (404, "Thu, 10 Dec 2026 14:05:09 GMT", '{"error":"x"}'),
    "huge-status": (4294967295, " 99999999999999999999 ", "\x1b[2J\r\n\x9b31m\xc2\x9b"),
    "signed-delay": (429, "-5", "slow down"), "fraction": (503, "1.5", ""),
    "bidi": (500, "", "file\u202etxt.exe \u2066x\u2069 \u200f\u061c".encode("utf-8").decode("latin-1")),
}


def write(name, seed, data):
    folder = os.path.join(HERE, name, "corpus")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, seed), "wb") as f:
        f.write(data)


def main():
    for name, seeds in SEEDS.items():
        for seed, text in seeds.items():
            write(name, seed, text.encode("latin-1"))
    for seed, (status, retry_after, body) in ERROR_REPLIES.items():
        write("error_reply", seed, struct.pack("=I", status) + (retry_after + "\n" + body).encode("latin-1"))


if __name__ == "__main__":
    main()
