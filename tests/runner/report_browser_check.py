"""A failing run's HTML report, opened in headless Chromium.

A scenario against the demo device takes screenshots, clicks, and fails an
expect-screen. The browser finds the failing step at the top, its reason,
and its three pictures (golden, screen, diff); each picture, and each
picture of the film strip, is checked against what the same run saved
independently: its screenshots, the golden, the screen and diff files
expect-screen wrote; the film of its last seconds ends on that screen. The link to the failing step opens it. A picture of the
report is saved for the README; Chromium's rendering itself is not compared.

Usage: report_browser_check.py FOLDER QUILLON_RUN GOLDEN SCREENSHOT
(GOLDEN: a text-art golden the menu does not match.)
"""

import base64
import io
import pathlib
import shutil
import subprocess
import sys
import tempfile

from PIL import Image
import headless_chromium
from selenium.webdriver.common.by import By

FOLDER, PROGRAM = pathlib.Path(sys.argv[1]), sys.argv[2]
GOLDEN, SCREENSHOT = pathlib.Path(sys.argv[3]), pathlib.Path(sys.argv[4])
BACKGROUND, INK = (188, 225, 101), (0, 0, 0)

SCENARIO = f"""name: Menu moves down
steps:
  - wait-text: "MAIN MENU"
  - screenshot: menu.png
    scale: 2
  - click: down
  - screenshot: moved.png
    scale: 2
  - expect-screen: {GOLDEN}
"""


def pixels_of_data_uri(uri):
    assert uri.startswith("data:image/png;base64,"), uri[:40]
    return pixels(io.BytesIO(base64.b64decode(uri.split(",", 1)[1])))


def pixels(source):
    image = Image.open(source).convert("RGB")
    return image.size, list(image.getdata())


def text_art_at_2x(path):
    rows = path.read_text().splitlines()
    return (256, 128), [INK if rows[y // 2][x // 2] == "#" else BACKGROUND for y in range(128) for x in range(256)]


def run_failing_scenario():
    shutil.rmtree(FOLDER, ignore_errors=True)
    FOLDER.mkdir(parents=True)
    scenario = FOLDER / "menu_moves.yaml"
    scenario.write_text(SCENARIO)
    result = subprocess.run([PROGRAM, "--demo", "-q", "--scenario", str(scenario), "--artifacts", str(FOLDER),
                             "--report", str(FOLDER / "report.html")], capture_output=True, text=True, timeout=60)
    assert result.returncode == 1, result.stderr
    return FOLDER / f"menu_moves-{GOLDEN.stem}.actual.txt", FOLDER / f"menu_moves-{GOLDEN.stem}.diff.png"


def check_failing_step(driver, actual, diff):
    failure = driver.find_element(By.ID, "failure")
    assert "menu_moves.yaml:9" in failure.find_element(By.TAG_NAME, "h2").text
    assert "pixels differ from" in driver.find_element(By.ID, "reason").text
    expected = {"golden": text_art_at_2x(GOLDEN), "actual": text_art_at_2x(actual), "diff": pixels(diff)}
    for name, wanted in expected.items():
        picture = failure.find_element(By.ID, name)
        assert driver.execute_script("return arguments[0].naturalWidth", picture) > 0, name
        assert pixels_of_data_uri(picture.get_attribute("src")) == wanted, name
    assert driver.find_element(By.ID, "accept").text == f"cp '{actual}' '{GOLDEN}'"


def check_film_strip(driver, actual):
    menu, moved = pixels(FOLDER / "menu.png"), pixels(FOLDER / "moved.png")
    # A screenshot and expect-screen do not let the panel run: the step
    # before each leaves the display it saves.
    expected = {"1": menu, "2": menu, "3": moved, "4": moved, "5": text_art_at_2x(actual)}
    shots = driver.find_elements(By.CSS_SELECTOR, "#scenario-1 .strip a.shot")
    assert [shot.get_attribute("data-step") for shot in shots] == list(expected)
    for shot in shots:
        source = shot.find_element(By.TAG_NAME, "img").get_attribute("src")
        assert pixels_of_data_uri(source) == expected[shot.get_attribute("data-step")], shot.text
    assert menu != moved


def check_recent_film(driver, actual):
    """The film of the last seconds the report holds ends on the screen the
    run ended with."""
    source = driver.find_element(By.ID, "recent-film").get_attribute("src")
    assert source.startswith("data:image/gif;base64,"), source[:40]
    film = Image.open(io.BytesIO(base64.b64decode(source.split(",", 1)[1])))
    film.seek(film.n_frames - 1)
    assert (film.size, list(film.convert("RGB").getdata())) == text_art_at_2x(actual)


def check_step_opens(driver):
    assert not driver.execute_script("return document.getElementById('s1-5').open")
    driver.find_element(By.CSS_SELECTOR, "#failure a[href='#s1-5']").click()
    assert driver.execute_script("return document.getElementById('s1-5').open")
    driver.execute_script("window.scrollTo(0, 0)")


def main():
    actual, diff = run_failing_scenario()
    with tempfile.TemporaryDirectory() as profile:
        driver = headless_chromium.browser(profile, 1100, 1000)
        try:
            driver.get((FOLDER / "report.html").resolve().as_uri())
            check_failing_step(driver, actual, diff)
            check_film_strip(driver, actual)
            check_recent_film(driver, actual)
            check_step_opens(driver)
            driver.save_screenshot(str(SCREENSHOT))
        finally:
            driver.quit()
    assert pixels(SCREENSHOT)[0][0] > 0
    print("report read in the browser; its picture is", SCREENSHOT)


main()
