"""Loopback stand-in for the postal-code service, driven by the lookup tests.

Listens on 127.0.0.1 with a port chosen by the system and prints that port on the first
line of its output. Answers GET /ws/<code>/json from the table below, GET /_last with
the request line and the two content-negotiation headers of the last /ws/ request (an
empty object when none came since GET /_clear).
Stops when its standard input is closed.
"""
import json
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FOUND = {
    "cep": "01001-000", "logradouro": "Praça da Sé", "complemento": "lado ímpar",
    "unidade": "", "bairro": "Sé", "localidade": "São Paulo", "uf": "SP",
    "estado": "São Paulo", "regiao": "Sudeste", "ibge": "3550308", "gia": "1004",
    "ddd": "11", "siafi": "7107",
}
CERRO = dict(FOUND, cep="13000-000", logradouro="Rua Cerro Azul", complemento="",
             bairro="Aterro", localidade="Campinas", uf="SP")
NO_UF = {k: v for k, v in FOUND.items() if k != "uf"}
LATIN1 = dict(FOUND, logradouro="Rua João Ávila", bairro="Coração")
JSON_UTF8 = "application/json; charset=utf-8"


def json_body(obj):
    return json.dumps(obj, ensure_ascii=False).encode("utf-8")


# path -> (status, content type, body bytes, extra headers)
ROUTES = {
    "/ws/01001000/json": (200, JSON_UTF8, json_body(FOUND), {}),
    "/ws/99999999/json": (200, JSON_UTF8, b'{\n  "erro": "true"\n}', {}),
    "/ws/99999998/json": (200, JSON_UTF8, b'{"erro": true}', {}),
    "/ws/99999997/json": (200, JSON_UTF8, b'{"erro": false, "logradouro": "Rua A",'
                          b' "complemento": "", "bairro": "B", "localidade": "C", "uf": "SP"}', {}),
    "/ws/13000000/json": (200, JSON_UTF8, json_body(CERRO), {}),
    "/ws/40000000/json": (400, JSON_UTF8, b'{"erro": true, "mensagem": "CEP invalido"}', {}),
    "/ws/50000000/json": (500, JSON_UTF8, b'{"mensagem": "falha interna"}', {}),
    "/ws/50000001/json": (500, "text/html", b"<html><body>Internal Server Error</body></html>", {}),
    "/ws/60000000/json": (200, "text/html", b"<html><body>CEP</body></html>", {}),
    "/ws/70000000/json": (200, JSON_UTF8, json_body(NO_UF), {}),
    "/ws/80000000/json": (301, "text/plain", b"", {"Location": "/ws/01001000/json"}),
    "/ws/88888888/json": (200, "application/json; charset=ISO-8859-1",
                          json.dumps(LATIN1, ensure_ascii=False).encode("latin-1"), {}),
    "/ws/20000000/json": (200, JSON_UTF8, b"", {}),
    "/ws/21000000/json": (200, JSON_UTF8, b'[' + json_body(FOUND) + b']', {}),
}
HANG = "/ws/90000000/json"

last = {}
stop = threading.Event()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle(self):
        try:
            super().handle()
        except ConnectionError:
            pass  # the client gave up (time-out tests) or closed a kept-alive connection

    def send(self, status, ctype, body, extra):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra.items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        if self.path == "/_last":
            self.send(200, JSON_UTF8, json_body(last), {})
            return
        if self.path == "/_clear":
            last.clear()
            self.send(200, JSON_UTF8, b"{}", {})
            return
        last.clear()
        last.update({
            "requestline": self.requestline,
            "accept": self.headers.get("Accept", ""),
            "accept-charset": self.headers.get("Accept-Charset", ""),
        })
        if self.path == HANG:
            stop.wait(60)  # never answers while the test runs
            return
        route = ROUTES.get(self.path)
        if route is None:
            self.send(404, "text/html", b"<html>not found</html>", {})
            return
        self.send(*route)


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()
    stop.set()
    server.shutdown()


if __name__ == "__main__":
    main()
