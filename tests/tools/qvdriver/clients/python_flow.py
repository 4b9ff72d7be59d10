"""The log-in flow and the tour through Debian's Python Selenium bindings:
    python3 python_flow.py <server URL> <device address> <user name>
Prints one JSON line with what the client saw; exits non-zero when a step fails.
"""
import json
import struct
import sys

from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.actions.pointer_input import PointerInput
from selenium.webdriver.common.actions import interaction
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.common.options import ArgOptions
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import WebDriverWait


def png_size(data):
    return {"signature": data[1:4].decode("latin1"), "width": struct.unpack(">I", data[16:20])[0],
            "height": struct.unpack(">I", data[20:24])[0]}


def error_name(command):
    try:
        command()
        return "no error"
    except Exception as e:  # the name is what the test checks
        return type(e).__name__


def main(server, device, user):
    options = ArgOptions()
    options.set_capability("platformName", "quorvel")
    options.set_capability("quorvel:host", device)
    options.set_capability("appium:deviceName", "sample phone")
    driver = webdriver.Remote(command_executor=server, options=options)
    seen = {"capabilities": driver.capabilities}
    try:
        # Log in; the user field's ID goes stale at the next find.
        user_field = driver.find_element(By.ID, "userField")
        user_field.send_keys(user)
        seen["typed"] = user_field.text
        driver.find_element(By.ID, "passwordField").send_keys("secret")
        seen["stale"] = error_name(lambda: user_field.text)
        seen["missing"] = error_name(lambda: driver.find_element(By.LINK_TEXT, "No such button"))
        driver.find_element(By.LINK_TEXT, "Log In").click()
        # A wait for visibility goes through the bindings' isDisplayed script.
        outcome = WebDriverWait(driver, 10).until(
            expected_conditions.visibility_of_element_located((By.ID, "outcomeLabel")))
        seen["outcome"] = outcome.text

        user_field = driver.find_element(By.ID, "userField")
        seen["displayed"] = user_field.is_displayed()
        seen["attributes"] = {name: user_field.get_attribute(name) for name in
                              ["value", "text", "name", "label", "id", "class", "enabled", "selected",
                               "displayed", "visible", "rect"]}
        seen["domAttribute"] = user_field.get_dom_attribute("id")
        seen["property"] = user_field.get_property("enabled")
        seen["tagName"] = user_field.tag_name
        seen["windowRect"] = driver.get_window_rect()
        seen["windowSize"] = driver.get_window_size()
        seen["windowHandles"] = [driver.current_window_handle, driver.window_handles]
        seen["orientation"] = driver.orientation
        log_in = driver.find_element(By.LINK_TEXT, "Log In")
        seen["buttonRect"] = log_in.rect
        seen["elementShot"] = png_size(log_in.screenshot_as_png)
        seen["screenShot"] = png_size(driver.get_screenshot_as_png())

        # Keys typed by actions into the focused field; the secure field shows bullets.
        user_field = driver.find_element(By.ID, "userField")  # the last find made it stale
        user_field.clear()
        user_field.click()
        ActionChains(driver).send_keys("zedX" + Keys.BACKSPACE).perform()
        seen["keyed"] = driver.find_element(By.ID, "userField").text
        password = driver.find_element(By.ID, "passwordField")
        password.click()
        ActionChains(driver).send_keys("pw").perform()
        seen["secret"] = password.text
        seen["secretValue"] = password.get_attribute("value")
        seen["secretSource"] = driver.page_source
        driver.find_element(By.LINK_TEXT, "Log In").click()  # puts the keyboard away

        seen["invalidSelector"] = error_name(lambda: driver.find_element(By.XPATH, "//UIButton[@name='Log In'"))

        # A tap at the Settings tab's point, by a touch pointer.
        tab = driver.find_element(By.LINK_TEXT, "Settings").rect
        touch = ActionBuilder(driver, mouse=PointerInput(interaction.POINTER_TOUCH, "finger"))
        touch.pointer_action.move_to_location(int(tab["x"] + tab["width"] / 2), int(tab["y"] + tab["height"] / 2))
        touch.pointer_action.pointer_down().pointer_up()
        touch.perform()
        seen["settings"] = driver.find_element(By.ID, "settingsStatus").text
        seen["switchLabel"] = driver.find_element(By.ID, "notificationsSwitch").get_attribute("name")

        # The list: press, move up, release scrolls it; "mobile: scroll" brings Row 30.
        driver.find_element(By.LINK_TEXT, "List").click()
        # The list keeps its place between sessions: back to the top first.
        driver.execute_script("mobile: scroll", {"direction": "up", "strategy": "link text", "selector": "Row 1"})
        seen["row1Before"] = len(driver.find_elements(By.LINK_TEXT, "Row 1"))
        scroller = driver.find_element(By.ID, "listScroll")
        ActionChains(driver).move_to_element_with_offset(scroller, 0, 150).click_and_hold() \
            .move_by_offset(0, -300).release().perform()
        seen["row1After"] = len(driver.find_elements(By.LINK_TEXT, "Row 1"))
        driver.execute_script("mobile: scroll", {"direction": "down", "strategy": "link text", "selector": "Row 30"})
        seen["row30Displayed"] = driver.find_element(By.LINK_TEXT, "Row 30").is_displayed()
        driver.find_element(By.LINK_TEXT, "Login").click()
    finally:
        driver.quit()
    return seen


if __name__ == "__main__":
    print(json.dumps(main(*sys.argv[1:4])))
