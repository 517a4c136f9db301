"""Debian's Chromium under Selenium, as the browser tests start it: headless,
without the sandbox root cannot use, with a user-data folder of its own."""
from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def browser(profile, width, height):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     f"--user-data-dir={profile}", f"--window-size={width},{height}"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
