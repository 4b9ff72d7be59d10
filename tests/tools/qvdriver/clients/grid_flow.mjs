// Two sessions at once through Selenium Grid, each on its own device:
//   node grid_flow.mjs <hub URL> <device address> <device address>
// Prints one JSON line: what each session saw, in the order of the devices.
import { seleniumFlow } from './selenium_flow.mjs';

const [hub, ...devices] = process.argv.slice(2);
const users = ['alice', 'bob', 'carol', 'dave'];
const seen = await Promise.all(devices.map((device, i) => seleniumFlow(hub, device, users[i % users.length])));
console.log(JSON.stringify(seen.map(({ source, ...rest }) => rest)));
