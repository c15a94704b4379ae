#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_ServerReplies: one file per conversation of the
scripted-server tables (smtp/tests/SMTPSendTest.cpp, mail/tests/MailSenderSendTest.cpp),
named after its row. Input format: a settings byte (bits 0-1 attempts, 4 a CC, 8 a BCC,
16 a user and password), then the server's chunks joined by NUL bytes (see the target)."""

import pathlib

G = "220 mx ESMTP\r\n"
E = "250-mx\r\n250-SIZE 1000000\r\n250 DSN\r\n"
EP = "250-mx\r\n250-PIPELINING\r\n250-8BITMIME\r\n250 SIZE 1000000\r\n"
EA = "250-mx\r\n250-AUTH PLAIN LOGIN\r\n250 SIZE 1000000\r\n"
A = "235 2.7.0 Authentication successful\r\n"
M = "250 2.1.0 Ok\r\n"
R = "250 2.1.5 Ok\r\n"
D = "354 End data with <CR><LF>.<CR><LF>\r\n"
END = "250 2.0.0 Ok: queued\r\n"
Q = "221 2.0.0 Bye\r\n"
EXTRA = "250 2.0.0 Welcome\r\n"
CLOSE = "\x01"
THREE, CC, BCC, AUTH = 3, 4, 8, 16

SEEDS = {
    # the conversations that succeed
    "successful_send": (THREE, [G, E, M, R, D, END, Q]),
    "successful_send_cc_bcc": (THREE | CC | BCC, [G, E, M, R, R, R, D, END, Q]),
    "pipelined_send_cc_bcc": (THREE | CC | BCC, [G, EP, M, R, R, R, D, END, Q]),
    "ehlo_auth_plain_size": (THREE | AUTH, [G, EA, A, M, R, D, END, Q]),
    "plain_refused_then_login": (THREE | AUTH, [G, EA, "535 5.7.8 no\r\n", "334 VXNlcm5hbWU6\r\n",
                                                "334 UGFzc3dvcmQ6\r\n", A, M, R, D, END, Q]),
    "login_challenged_after_password": (THREE | AUTH, [G, "250-mx\r\n250 AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n",
                                                       "334 UGFzc3dvcmQ6\r\n", "334 more?\r\n",
                                                       "501 5.7.0 cancelled\r\n", M, R, D, END, Q]),
    "plain_challenged_then_login": (THREE | AUTH, [G, EA, "334 \r\n", "501 5.7.0 cancelled\r\n",
                                                   "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n", A, M, R, D,
                                                   END, Q]),
    "ehlo_refused_helo_accepted": (THREE, [G, "502 5.5.1 EHLO not here\r\n", "250 mx\r\n", M, R, D, END, Q]),
    "replies_by_one_byte_pieces": (THREE, [G, E, M, R, D, "250-2.0.0 Ok\r\n250 2.0.0 queued\r\n", Q]),
    # the failure table
    "login_refused": (THREE, ["554 5.3.2 no service\r\n", Q, "554 5.3.2 no service\r\n", Q,
                              "554 5.3.2 no service\r\n", Q]),
    "sender_refused_same_line_once": (THREE, [G, E] + ["530 5.7.0 Authentication required\r\n"] * 3 + [Q]),
    "recipient_refused_three_lines": (THREE, [G, E, M, "450 4.2.0 first\r\n", "451 4.3.0 second\r\n",
                                              "550 5.1.1 third\r\n", Q]),
    "data_refused_carries_earlier_answers": (THREE, [G, E, M, "450 4.2.0 busy\r\n", R] +
                                             ["554 5.6.0 refused\r\n"] * 3 + [Q]),
    "one_attempt_no_retry": (1, [G, E, M, "450 4.2.0 busy\r\n", Q]),
    # late and silent servers (a reply never sent is an empty chunk)
    "greeting_never": (THREE, ["", "", ""]),
    "ehlo_never": (THREE, [G, "", G, "", G, ""]),
    "mail_never": (THREE, [G, E, ""]),
    "data_never": (THREE, [G, E, M, R, ""]),
    "end_of_data_never": (THREE, [G, E, M, R, D, ""]),
    "quit_never": (THREE, [G, E, M, R, D, END, ""]),
    "drop_in_data": (THREE, [G, E, M, R, D + CLOSE]),
    # a server that says more than it should
    "extra_line_greeting": (THREE, [G + EXTRA, G, E, M, R, D, END, Q]),
    "extra_line_ehlo": (THREE, [G, E + EXTRA, G, E, M, R, D, END, Q]),
    "extra_line_sender": (THREE, [G, E, M + EXTRA, Q]),
    "extra_line_ready_for_data": (THREE, [G, E, M, R, D + EXTRA]),
    "extra_line_end_of_data": (THREE, [G, E, M, R, D, END + EXTRA, Q]),
    "extra_line_pipelined_sender": (THREE | CC, [G, EP, M + EXTRA, R, R, D]),
    "replies_one_behind": (THREE, [G, E, EXTRA, M, R, D, END, Q]),
    "accepted_to_data": (THREE, [G, E, M, R, R]),
    "mixed_codes_refused_at_end": (THREE, [G, E, M, R, D, "250-2.0.0 Ok\r\n554 5.6.0 Refused after all\r\n", Q]),
    "mixed_codes_accepted_at_end": (THREE, [G, E, M, R, D, "554-5.6.0 Hm\r\n250 2.0.0 queued after all\r\n", Q]),
    "service_closing": (THREE, [G, "421 4.3.2 Service shutting down\r\n" + CLOSE] * 3),
    "non_ascii_before_hyphen": (THREE, [b"\x8b-8BITMIME\r\n250 \r\n", Q, G, E, M, R, D, END, Q]),
    "utf8_reply": (THREE, [G, E, M, "550 5.1.1 Usu\u00e1rio desconhecido\r\n", Q]),
    # pipelining: each branch of the rule for a refusal in the flight
    "pipelined_recipient_refused_data_refused": (THREE | CC, [G, EP, M, R, "450 4.2.0 busy\r\n",
                                                              "554 5.5.1 no valid recipients\r\n", R, D, END, Q]),
    "pipelined_recipient_refused_data_ready": (THREE | CC, [G, EP, M, R, "450 4.2.0 busy\r\n", D,
                                                            G, EP, M, R, R, D, END, Q]),
    "pipelined_sender_refused": (THREE | CC, [G, EP, "451 4.3.0 later\r\n", "503 need MAIL\r\n",
                                              "503 need MAIL\r\n", "503 need RCPT\r\n", M, R, R, D, END, Q]),
    "pipelined_data_refused": (THREE | CC, [G, EP, M, R, R, "451 4.3.0 later\r\n", D, END, Q]),
    "pipelined_message_refused": (THREE | CC, [G, EP, M, R, R, D, "554 5.6.0 refused\r\n", Q]),
    # limits of one reply
    "many_short_lines": (THREE, [G, "\x03\x50250 END\r\n", M, R, D, END, Q]),
    "reply_one_line_too_many": (THREE, [G, "\x03\x64250 END\r\n"]),
    "line_over_the_limit": (THREE, [G, "250-\x02\x41\r\n250 x\r\n"]),
    "reply_cut_in_a_line": (THREE, [G, "250-mx\r\n250 SI"]),
}


def main() -> None:
    out = pathlib.Path(__file__).with_name("corpus")
    out.mkdir(exist_ok=True)
    for name, (settings, chunks) in SEEDS.items():
        # A chunk is text (sent as UTF-8) or bytes (sent as they are).
        data = bytes([settings]) + b"\0".join(c if isinstance(c, bytes) else c.encode("utf-8") for c in chunks)
        (out / name).write_bytes(data)


if __name__ == "__main__":
    main()
