#!/usr/bin/env escript
%% Regenerates tests/asn1_text/fixtures/ber_vectors.txt: BER encodings of the TextProbe test
%% schema made by Erlang/OTP's asn1 compiler, an independent codec.
%% Usage (from the repository root): escript tools/erlang/ber_vectors.escript
-mode(compile).

main(_) ->
    Here = filename:dirname(escript:script_name()),
    Out = filename:join(Here, "../../tests/asn1_text/fixtures/ber_vectors.txt"),
    Tmp = string:trim(os:cmd("mktemp -d")),
    Src = filename:join(Tmp, "TextProbe.asn1"),
    {ok, _} = file:copy(filename:join(Here, "ber_TextProbe.asn1"), Src),
    ok = asn1ct:compile(Src, [ber, {outdir, Tmp}]),
    true = code:add_patha(Tmp),
    Lines = [line(Name, Type, Value) || {Name, Type, Value} <- cases()],
    ok = file:write_file(Out, ["# name type hex (BER), made by ",
                               "tools/erlang/ber_vectors.escript\n" | Lines]),
    os:cmd("rm -rf " ++ Tmp),
    io:format("wrote ~s (~b vectors)~n", [Out, length(Lines)]).

line(Name, Type, Value) ->
    {ok, Bin} = 'TextProbe':encode(Type, Value),
    Hex = [io_lib:format("~2.16.0B", [B]) || <<B>> <= Bin],
    [Name, " ", atom_to_list(Type), " ", Hex, "\n"].

msg(Seq, Slot, Pick, Wide, Added) ->
    {'Message', Seq, Slot, Pick, Wide, {'Empty'}, Added}.

cases() ->
    N = asn1_NOVALUE,
    [{"numbers-zero", 'Numbers', {'Numbers', 0, 0, 0, N, red, zero}},
     {"numbers-edges", 'Numbers', {'Numbers', -2147483648, 4294967295, -128, 128, blue, minus}},
     {"numbers-mid", 'Numbers', {'Numbers', 2147483647, 2147483648, 127, -129, green, one}},
     {"numbers-small", 'Numbers', {'Numbers', -1, 255, -1, 127, red, minus}},
     {"texts-empty", 'Texts', {'Texts', <<>>, "", "", "", "", [], <<>>, "20240131235959Z", {1, 2}}},
     {"texts-short", 'Texts', {'Texts', <<16#0A, 16#FF>>, "a\"b", "Hi there", "0 9", "Ab:z",
                                [{0, 0, 0, 16#41}, {0, 0, 4, 16#16}], <<1:1, 0:1, 1:1, 1:1, 0:1, 0:1, 0:1, 0:1, 1:1>>,
                                "20240131235959.005Z", {1, 2, 840, 113549}}},
     {"texts-16bits", 'Texts', {'Texts', <<1>>, "x", "y", "1", "P", [{0, 0, 16#26, 16#3A}], <<16#FFFF:16>>,
                                 "19991231000000+0200", {2, 5, 4, 3}}},
     {"texts-long", 'Texts', {'Texts', list_to_binary(lists:seq(0, 255)), lists:duplicate(130, $x),
                               "Q", "7", "P", [], <<16#DEADBEEF:32, 1:1>>,
                               "20000229120000", {0, 39, 16383, 4294967295}}},
     {"lists", 'Lists', {'Lists', [0, -1, 128, 70000], [{'Inner', true, 7}, {'Inner', false, 0}],
                          [{none, 'NULL'}, {num, -5}, {text, "t"}, {inner, {'Inner', true, 1}},
                           {deeper, {b, <<1, 2>>}}]}},
     {"lists-empty", 'Lists', {'Lists', [], [], []}},
     {"message-min", 'Message', msg(N, N, {none, 'NULL'}, {a0, 'NULL'}, N)},
     {"message-full", 'Message', msg(5, 1023, {inner, {'Inner', false, 3}}, {a31, 'NULL'}, -70000)},
     {"message-deep", 'Message', msg(N, 3, {deeper, {a, true}}, {a32, 300}, N)},
     {"message-text", 'Message', msg(1, N, {text, "hello"}, {a30, 'NULL'}, N)}].
