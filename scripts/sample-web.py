#!/usr/bin/env python3
"""A search engine and the pages it lists, on loopback, for pictures of a run: the engine's result
page lists 30 pages of 127.0.0.1:PORT; the first ten link to the site, two more only name it, two
are gone, and the rest answer only after ten minutes, so that a run is still going when it is
pictured. Prints the port, then serves until killed.
Usage: scripts/sample-web.py [DOMAIN]"""
import http.server
import socketserver
import sys
import time

domain = sys.argv[1] if len(sys.argv) > 1 else "example.com"


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body, charset):
        data = body.encode(charset)
        self.send_response(status)
        self.send_header("Content-Type", f"text/html; charset={charset}")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        port = self.server.server_address[1]
        if self.path.startswith("/page/"):
            n = int(self.path.rsplit("/", 1)[1])
            if n < 10:
                self.answer(200, f'<p>友情链接：<a href="https://{domain}/">{domain}</a></p>', "utf-8")
            elif n < 12:
                self.answer(200, f"<p>推荐阅读 {domain} 上的文章</p>", "utf-8")
            elif n < 14:
                self.answer(404, "<p>Not Found</p>", "utf-8")
            else:
                time.sleep(600)
            return
        # Anything else is the engine's search, reached through this server as the proxy.
        results = "".join(
            f'<table class="result" id="{n + 1}"><tr><td class="f"><h3 class="t">'
            f"<a onmousedown=\"return c({{'fm':'as','F':'778317EA','T':'1404{n + 1}'}})\" "
            f'href="http://127.0.0.1:{port}/page/{n}" target="_blank"><em>网站</em>第 {n} 页</a></h3>'
            f'<font size="-1">网页摘要</font><br><span class="g">127.0.0.1:{port}/page/{n} 2012-5-3 </span>'
            '</td></tr></table>\n'
            for n in range(30))
        page = ('<!DOCTYPE html><html><head><meta http-equiv="content-type" content="text/html;charset=gb2312">'
                f'<title>搜索_{domain}</title></head><body><div id="wrapper">'
                f'<div class="nums">找到相关网页约30篇，用时0.027秒</div>{results}</div></body></html>')
        self.answer(200, page, "gbk")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
