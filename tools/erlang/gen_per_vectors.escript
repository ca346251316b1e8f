#!/usr/bin/env escript
%% Regenerates tests/asn1/fixtures/per_vectors.txt: aligned PER encodings of the Probe test
%% schema made by Erlang/OTP's asn1 compiler, an independent codec.
%% Usage (from the repository root): escript tools/erlang/gen_per_vectors.escript
-mode(compile).

main(_) ->
    Here = filename:dirname(escript:script_name()),
    Out = filename:join(Here, "../../tests/asn1/fixtures/per_vectors.txt"),
    Tmp = string:trim(os:cmd("mktemp -d")),
    ok = asn1ct:compile(filename:join(Here, "Probe.asn1"), [per, {outdir, Tmp}]),
    true = code:add_patha(Tmp),
    Lines = [line(Name, Type, Value) || {Name, Type, Value} <- cases()],
    ok = file:write_file(Out, ["# name type hex (aligned PER), made by ",
                               "tools/erlang/gen_per_vectors.escript\n" | Lines]),
    os:cmd("rm -rf " ++ Tmp),
    io:format("wrote ~s (~b vectors)~n", [Out, length(Lines)]).

line(Name, Type, Value) ->
    {ok, Bin} = 'Probe':encode(Type, Value),
    Hex = [io_lib:format("~2.16.0B", [B]) || <<B>> <= Bin],
    [Name, " ", atom_to_list(Type), " ", Hex, "\n"].

inner(Flag, Count) -> {'Inner', Flag, Count}.

msg(Inner, Pick, Ext, A1, A2) ->
    {'Message', true, blue, mid, Inner, Pick, Ext, 'NULL', A1, A2}.

cases() ->
    N = asn1_NOVALUE,
    [{"numbers-min", 'Numbers', {'Numbers', N, 0, 0, 0, 0, 0, -128, 5, -100000}},
     {"numbers-max", 'Numbers', {'Numbers', 2147483647, 7, 255, 65535, 1023, 4294967295, 127, 5, 100000}},
     {"numbers-mid", 'Numbers', {'Numbers', -129, 5, 128, 256, 700, 65536, -1, 5, 0}},
     {"numbers-edge", 'Numbers', {'Numbers', -2147483648, 1, 127, 255, 512, 256, 0, 5, 65536}},
     {"numbers-small", 'Numbers', {'Numbers', 128, 2, 1, 1, 1, 16777216, 64, 5, -1}},
     {"texts-empty", 'Texts', {'Texts', <<>>, "", "aa", "", "", [], <<>>, "20240131235959Z", {1, 2}}},
     {"texts-short", 'Texts', {'Texts', <<16#A5>>, "hi", "ab", "0 9", "Ab:z", [{0, 0, 16#26, 16#3A}, $A],
                                <<1:1, 0:1, 1:1, 1:1, 0:1, 0:1, 0:1, 0:1, 1:1>>,
                                "20240131235959.005Z", {1, 2, 840, 113549}}},
     {"texts-two", 'Texts', {'Texts', <<1, 2>>, "\x7f", "z!", "12345678901", "'()+,-./:=?",
                              [{0, 0, 255, 255}], <<16#FFFF:16>>, "19991231000000", {2, 5, 4, 3}}},
     {"texts-long", 'Texts', {'Texts', list_to_binary(lists:seq(0, 199)), lists:duplicate(130, $x),
                               "QQ", lists:duplicate(21, $7), lists:duplicate(127, $P),
                               lists:duplicate(3, $b), <<16#DEADBEEF:32, 1:1>>,
                               "20000229120000-0130", {0, 39, 16383, 16384, 4294967295}}},
     {"lists", 'Lists', {'Lists', [0, -1, 128, 70000], [true, false, true], ["a", "bc"]}},
     {"lists-empty", 'Lists', {'Lists', [], [true], []}},
     {"lists-128", 'Lists', {'Lists', lists:seq(0, 127), [false, false, false, false],
                              [lists:duplicate(128, $n)]}},
     {"message-root", 'Message', msg(N, {num, 300}, {a, 200}, N, N)},
     {"message-inner", 'Message', msg(inner(true, 6), {text, "x"}, {b, true}, N, N)},
     {"message-extchoice", 'Message', msg(N, {none, 'NULL'}, {c, "hello"}, N, N)},
     {"message-extchoice-seq", 'Message', msg(inner(false, 7), {num, -5}, {d, inner(true, 1)}, N, N)},
     {"message-added", 'Message', msg(N, {num, 0}, {a, 0}, 1000, "zz")},
     {"message-added1", 'Message', msg(N, {num, 0}, {a, 0}, -70000, N)},
     {"message-added2", 'Message', msg(inner(true, 0), {num, 1}, {b, false}, N, "q")}].
