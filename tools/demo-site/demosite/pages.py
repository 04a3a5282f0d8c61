"""The site's dynamic pages, as HTML text (the server sends them in Windows-1251)."""

import hashlib
import html

from .content import GAME_PICTURES

# Links that leave the site: the client opens them in the user's default browser.
EXTERNAL_LINKS = [
    ("https://www.example.org/", "Сайт о мире игры"),
    ("http://forum.example.com/velmara/topic/1", "Форум игроков"),
]


def _page(title, body, head=""):
    return ("<!DOCTYPE html>\n<html><head>"
            '<meta http-equiv="Content-Type" content="text/html; charset=windows-1251">'
            "<title>%s</title>%s</head>\n<body>\n%s\n</body></html>\n" %
            (html.escape(title), head, body))


def index_page():
    """The start page: the game above, the chat frame below."""
    return ("<!DOCTYPE html>\n<html><head>"
            '<meta http-equiv="Content-Type" content="text/html; charset=windows-1251">'
            "<title>Велмара</title></head>\n"
            '<frameset rows="*,180">\n'
            '  <frame name="main" src="main.php">\n'
            '  <frame name="chat" src="chat.php">\n'
            "</frameset></html>\n")


def main_page(own_host, picture_hosts, game_build):
    """The game page: 60 pictures spread over the picture hosts, the map movie, the links.

    Pictures on the host the page was asked from use site paths; the others name their host.
    Every tenth picture carries the build as a version query, as the game does for files it
    wants the browser to fetch again after an update.
    """
    cells = []
    for index, name in enumerate(GAME_PICTURES):
        host = picture_hosts[index % len(picture_hosts)]
        source = name if host == own_host else "http://%s/%s" % (host, name)
        if index % 10 == 9:
            source += "?v=%d" % game_build
        cells.append('<img src="%s" alt="" width="32" height="32">' % html.escape(source))
    rows = ["<div>%s</div>" % "".join(cells[i:i + 12]) for i in range(0, len(cells), 12)]
    links = [
        '<a href="fight.php?fight=1">Начать бой</a>',
        '<a href="user_info.php?nick=%s">Мой персонаж</a>' % html.escape("Странник"),
        '<a href="info/index.php" target="_blank">Инфопортал</a>',
    ] + ['<a href="%s">%s</a>' % (html.escape(url), html.escape(text))
         for url, text in EXTERNAL_LINKS]
    body = ('<h1><img src="images/ui/frame.gif" alt=""> Велмара</h1>\n'
            '<p>%s</p>\n%s\n'
            '<p><embed src="images/map.swf?v=%d" type="application/x-shockwave-flash" '
            'width="550" height="400"></p>' % (" | ".join(links), "\n".join(rows), game_build))
    return _page("Велмара — игра", body)


def chat_page(messages):
    """The chat frame. Its form holds the "message" field and its script defines chatSend().

    Enter in the field does not submit the form: the client calls chatSend() on Enter, and
    the button calls it when the page is used without the client.
    """
    shown = "\n".join('<div class="m"><b>%s:</b> %s</div>' %
                      (html.escape(who), html.escape(text)) for who, text in messages[-20:])
    head = """<script>
function chatSend() {
  var field = document.forms["chatform"].elements["message"];
  var text = field.value;
  if (text == "") return false;
  var request = new XMLHttpRequest();
  request.open("POST", "chat_send.php", true);
  request.setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
  request.onload = function () { location.reload(); };
  request.send("message=" + encodeURIComponent(text));
  field.value = "";
  return true;
}
</script>"""
    body = ('<div id="messages">%s</div>\n'
            '<form name="chatform" onsubmit="return false;">'
            '<input type="text" name="message" size="60"> '
            '<input type="button" value="Отправить" onclick="chatSend();">'
            "</form>" % shown)
    return _page("Чат", body, head)


def user_info_page(nick):
    digest = hashlib.md5(nick.encode("utf-8")).digest()
    level = 1 + digest[0] % 20
    body = ('<h1>Информация о персонаже</h1>\n<p>Имя: <b id="nick">%s</b></p>\n'
            "<p>Уровень: %d</p>" % (html.escape(nick), level))
    return _page("Персонаж %s" % nick, body)


def fight_page(fight):
    """The fight: loads the game's Flash movie "game.swf?".

    A browser without a Flash player never asks for the movie of an embed, so the page also
    asks for it by script: the request is what tells the client that a fight has started.
    """
    movie = "game.swf?fight=%s" % html.escape(fight)
    head = '<script>fetch("%s").catch(function () {});</script>' % movie
    body = ('<h1>Бой %s</h1>\n'
            '<object type="application/x-shockwave-flash" data="%s" width="550" height="400">'
            '<param name="movie" value="%s"></object>\n'
            '<p><a href="fight_end.php?fight=%s">Завершить бой</a></p>' %
            (html.escape(fight), movie, movie, html.escape(fight)))
    return _page("Бой", body, head)


def fight_end_page(fight):
    """After the fight: reports the end to "fight_finish.php", as the game's movie does."""
    report = "fight_finish.php?fight=%s" % html.escape(fight)
    head = '<script>fetch("%s").catch(function () {});</script>' % report
    body = ('<h1>Бой окончен</h1>\n<p><a href="main.php">Вернуться в игру</a></p>')
    return _page("Бой окончен", body, head)


def fight_finish_page(fight):
    return _page("Бой окончен", "<p>Бой %s завершён.</p>" % html.escape(fight))


def info_page():
    """The information portal, with the portal's own graphics below info/."""
    body = ('<h1><img src="img/Header.gif" alt=""> Инфопортал</h1>\n'
            '<p><img src="images/logo.gif" alt=""> <img src="images/banner.jpg" alt=""></p>\n'
            '<p><img src="images/news1.png" alt=""> <img src="images/news2.png" alt=""> '
            '<img src="images/news3.png" alt=""></p>\n'
            '<p><img src="img/divider.png" alt=""></p>\n'
            '<embed src="flash/intro.swf" type="application/x-shockwave-flash" '
            'width="550" height="400">\n'
            '<p><a href="../main.php">В игру</a> | <a href="%s">%s</a></p>' %
            (html.escape(EXTERNAL_LINKS[1][0]), html.escape(EXTERNAL_LINKS[1][1])))
    return _page("Инфопортал", body)


def error_page(status, reason):
    """The site's error page; it begins with "<html>", as the error pages of old servers do."""
    title = "%d %s" % (status, html.escape(reason))
    return ("<html><head><title>%s</title></head>\n<body><h1>%s</h1>\n"
            "<p>Запрошенная страница не найдена.</p></body></html>\n" % (title, title))
